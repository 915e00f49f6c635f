// One spelling for every way of naming the same path, so that the plan
// compares folders and destinations however the user wrote them.
#pragma once

#include <filesystem>
#include <string>

namespace Batch {

// Links and ".." resolved as far as the path exists, the rest kept as
// written, made absolute. An empty path is the current folder.
std::string CanonicalPath(const std::filesystem::path& path);

}  // namespace Batch
