// Sizes computed from a file's header are products of 16-bit fields and
// small factors. They are computed here in 64 bits, where they cannot wrap,
// and checked before anyone allocates or indexes with them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>

namespace Codec {

namespace CheckedSize {

// a * b, or nothing when the product does not fit 64 bits.
inline std::optional<std::uint64_t> Multiply(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
        return std::nullopt;
    }
    return a * b;
}

// Whether a byte count can be allocated and indexed on this machine.
inline bool FitsMemory(std::uint64_t bytes) {
    return bytes <= static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
}

}  // namespace CheckedSize

}  // namespace Codec
