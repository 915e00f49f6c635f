// An OutputStream that writes nothing: it compares what it is given with the
// bytes an input stream reads, so that a file can be checked against what
// the writer would make of it without holding either in memory twice.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gfxstream/InputStream.h"
#include "gfxstream/OutputStream.h"

class ComparingOutputStream : public GFXStream::OutputStream {
  public:
    explicit ComparingOutputStream(GFXStream::InputStream& original) : original_(original) {}

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
    void Write(const void* buffer, std::uint32_t n) override {
        const auto* data = static_cast<const std::uint8_t*>(buffer);
        std::uint8_t block[4096];
        while (n > 0 && same_) {
            const auto part = std::min<std::uint32_t>(n, sizeof block);
            same_ = original_.Read(block, part) == part && std::memcmp(block, data, part) == 0;
            data += part;
            n -= part;
        }
    }

    // Whether every byte written so far matched, and the input holds no more.
    bool SameAsOriginal() const { return same_ && original_.Remaining() == 0; }

  private:
    GFXStream::InputStream& original_;
    bool same_ = true;
};
