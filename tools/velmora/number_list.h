// Lists of numbers as people type them on a command line: one argument,
// values separated by commas ("0.485,0.456,0.406").
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The finite numbers of `text`, at most `most` of them. Throws
// std::invalid_argument with a sentence that names `option`, shows the text
// and says what it takes, with `example`.
std::vector<float> parseNumberList(const std::string& text, const std::string& option, size_t most,
                                   const std::string& example);

// Whether the whole text reads as one number ("0.456", "-2", "1e3").
bool isNumber(const std::string& text);
