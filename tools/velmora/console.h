// The command's own lines. While the library's output is captured they still
// reach the real standard error, through the stream set here.
#pragma once

#include <cstdio>
#include <string>

// Null: standard error.
void setConsoleStream(std::FILE* stream);
std::FILE* consoleStream();

// Writes "velmora: " + text and a line end, and flushes.
void say(const std::string& text);

// Writes the line as it is (for lines that explain a failure).
void sayRaw(const std::string& line);
