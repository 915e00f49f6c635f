// The operating system's file handle, and the one value that marks a file
// stream as closed.
#pragma once

#ifdef _WIN32
#include <windows.h>
#endif

namespace Files {

#ifdef _WIN32
using FileHandle = HANDLE;
inline const FileHandle kInvalidFileHandle = INVALID_HANDLE_VALUE;
#else
using FileHandle = int;
inline constexpr FileHandle kInvalidFileHandle = -1;
#endif

}  // namespace Files
