// Abstract byte sink. Multi-byte values go least significant byte first.
// An implementation may hold bytes back; a failure to store them is raised
// as "Unable to write to file" by whichever operation stores them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/Exception.h"

namespace GFXStream {

inline constexpr const char* kUnableToWriteText = "Unable to write to file";

class OutputStream {
  public:
    virtual ~OutputStream() = default;

    virtual void WriteByte(std::uint8_t value) = 0;
    virtual void WriteWord(std::uint16_t value) = 0;
    virtual void WriteDword(std::uint32_t value) = 0;
    virtual void Write(const void* buffer, std::uint32_t n) = 0;
    // Writes the blocks one after the other, as one Write of each would. A
    // file stream hands many large blocks to the system in one call, from
    // the caller's memory; this default simply writes them in turn.
    virtual void WriteGathered(const std::span<const std::uint8_t>* blocks, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Write(blocks[i].data(), static_cast<std::uint32_t>(blocks[i].size()));
        }
    }
    // Writes the n bytes of `source` from `offset` on, as they stand. A file
    // stream copies them from file to file inside the system where it can;
    // this default writes them a span at a time. Raises the source's
    // "Unexpected end of input" when the source holds fewer.
    virtual void CopyFrom(ByteRangeInputStream& source, std::uint64_t offset, std::uint64_t n) {
        while (n > 0) {
            const auto k = static_cast<std::size_t>(
                std::min<std::uint64_t>(n, ByteRangeInputStream::kMaxSpan));
            const std::uint8_t* bytes = source.Span(offset, k);
            if (bytes == nullptr) {
                throw Exception(kUnexpectedEndText);
            }
            const std::span<const std::uint8_t> block(bytes, k);
            WriteGathered(&block, 1);
            offset += k;
            n -= k;
        }
    }
};

}  // namespace GFXStream
