// Where bytes go in a buffer so that they sit at a given file offset within
// a page. The system copies between memory and a file several times slower
// on some processors when the two disagree, so buffers whose bytes are
// handed to the system place them this way; each such buffer has a page to
// spare.
#pragma once

#include <cstddef>
#include <cstdint>

namespace GFXStream {

inline constexpr std::size_t kPageSize = 4096;

// The first place in `buffer` (within its first page) whose address agrees
// with `offset` within a page.
inline std::uint8_t* AtPageOffset(std::uint8_t* buffer, std::uint64_t offset) {
    const auto address = reinterpret_cast<std::uintptr_t>(buffer);
    return buffer + (offset % kPageSize + kPageSize - address % kPageSize) % kPageSize;
}

}  // namespace GFXStream
