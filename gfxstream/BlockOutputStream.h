// An output stream whose byte, word and dword writes are the little-endian
// bytes given to Write: streams that only collect or compare bytes need
// nothing else.
#pragma once

#include <cstdint>

#include "gfxstream/OutputStream.h"

namespace GFXStream {

class BlockOutputStream : public OutputStream {
  public:
    void WriteByte(std::uint8_t value) override { Write(&value, 1); }
    void WriteWord(std::uint16_t value) override {
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF),
                                       static_cast<std::uint8_t>(value >> 8)};
        Write(bytes, 2);
    }
    void WriteDword(std::uint32_t value) override {
        WriteWord(static_cast<std::uint16_t>(value & 0xFFFF));
        WriteWord(static_cast<std::uint16_t>(value >> 16));
    }
};

}  // namespace GFXStream
