// Loading a shared library from a path and finding entry points in it: the
// platform's loader behind one small interface.
#pragma once

#include <string>

namespace dynlib {

using Handle = void*;

// The folder of the module that holds the library's own code, without a
// trailing separator (except after a root), or empty on failure (reported on
// standard error).
std::string libraryFolder();

// The folder part of a module path: the last component and the separators
// before it removed, a root ("/", "C:\\") kept whole.
std::string parentFolder(const std::string& path);

// The platform's path separator for joining the folder and a file name.
const char* pathSeparator();

// Null on failure, with the loader's own error text in `error`.
Handle open(const std::string& path, std::string& error);
void* symbol(Handle handle, const char* name, std::string& error);

}  // namespace dynlib
