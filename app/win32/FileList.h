// The file list in the picker's shape: NUL-terminated strings ended by an
// empty string. One string before the terminator is a single full path; two
// or more are a folder followed by bare file names in it.
//
// Paths are the system's bytes and are never reinterpreted: a name that is
// not valid UTF-8 passes through unchanged.
#pragma once

#include <string>
#include <vector>

#include "batch/JoinPath.h"

// A list taken apart: the folder the names are found in ("" means the
// current directory) and the names in list order.
struct SplitFileListResult {
    std::string folder;
    std::vector<std::string> names;
};

// Reads a list of either shape. A single path is cut at its last "/": the
// part before it is the folder ("/" for a file at the root), the rest the
// name; a path without "/" has an empty folder. `fileList` must end with an
// empty string; a null pointer is an empty list.
SplitFileListResult SplitFileList(const char* fileList);
