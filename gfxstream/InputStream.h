// Abstract byte source. Every multi-byte value is little-endian.
//
// The single-value reads deliver a whole value or raise "Unexpected end of
// input" without moving. The block operations never raise at the end of the
// data: they return a smaller count and the caller compares.
#pragma once

#include <cstdint>

namespace GFXStream {

inline constexpr const char* kUnexpectedEndText = "Unexpected end of input";

class InputStream {
  public:
    virtual ~InputStream() = default;

    virtual std::uint8_t ReadByte() = 0;
    virtual std::uint16_t ReadWord() = 0;
    virtual std::uint32_t ReadDword() = 0;
    // Copies up to n bytes; a null buffer copies nothing and answers n.
    virtual std::uint32_t Read(void* buffer, std::uint32_t n) = 0;
    virtual std::uint32_t Skip(std::uint32_t n) = 0;
    // `arg` has no meaning; it is kept for the operation's shape.
    virtual std::uint32_t SkipBack(std::int32_t arg, std::uint32_t n) = 0;

    // How many bytes are left to read. Readers use it to refuse a header that
    // promises more data than the input holds, before they allocate for it.
    // It never changes the position and never raises. The streams of this
    // program know their end exactly; a stream that cannot (a pipe, say)
    // must answer an upper bound, such as UINT64_MAX, which only turns the
    // check off: an answer below the truth would refuse good files.
    virtual std::uint64_t Remaining() const = 0;
};

}  // namespace GFXStream
