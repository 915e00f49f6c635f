// Bytes moved between files by position, without the process's memory in
// between where the system can do it: the bulk of a conversion whose bytes
// pass unchanged, read or copied without mapping the source.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/FileHandle.h"

namespace Files {

// Reads up to n bytes of `file` from `offset`, leaving the file position
// alone where the system allows; answers how many were read (0 at the end
// of the file), or -1 when the system refused. Interrupted calls are
// retried here.
std::int64_t ReadSomeAt(FileHandle file, std::uint64_t offset, std::uint8_t* buffer, std::size_t n);

// Copies up to n bytes of `from`, starting at `offset`, to the current
// position of `to`, inside the system (copy_file_range); answers how many
// were copied (0 when `from` ends at `offset`), -1 when the system refused,
// or kCopyNotSupported when it cannot copy between these two files at all
// (other file systems, no such call), so that the caller copies through
// memory instead.
inline constexpr std::int64_t kCopyNotSupported = -2;
std::int64_t CopySome(FileHandle from, std::uint64_t offset, FileHandle to, std::size_t n);

}  // namespace Files
