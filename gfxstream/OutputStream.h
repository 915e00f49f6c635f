// Abstract byte sink. Multi-byte values go least significant byte first.
// An implementation may hold bytes back; a failure to store them is raised
// as "Unable to write to file" by whichever operation stores them.
#pragma once

#include <cstdint>

namespace GFXStream {

inline constexpr const char* kUnableToWriteText = "Unable to write to file";

class OutputStream {
  public:
    virtual ~OutputStream() = default;

    virtual void WriteByte(std::uint8_t value) = 0;
    virtual void WriteWord(std::uint16_t value) = 0;
    virtual void WriteDword(std::uint32_t value) = 0;
    virtual void Write(const void* buffer, std::uint32_t n) = 0;
};

}  // namespace GFXStream
