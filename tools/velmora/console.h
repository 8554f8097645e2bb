// The command's own lines, on standard error.
#pragma once

#include <cstdio>
#include <string>

// Where the command's lines and its progress bar go: standard error.
std::FILE* consoleStream();

// Writes "velmora: " + text and a line end, and flushes.
void say(const std::string& text);

// Writes the line as it is (for lines that explain a failure).
void sayRaw(const std::string& line);
