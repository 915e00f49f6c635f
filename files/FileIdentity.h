// Which file a path leads to, as the system knows it rather than by name:
// two names of one file (links, or letter case where the file system ignores
// it) give the same key.
#pragma once

#include <string>

namespace Files {

// "device:inode" on POSIX, "volume serial:file index" on Windows; "" when
// nothing exists at the path or the system does not say.
std::string FileIdentity(const std::string& path);

}  // namespace Files
