// An OutputStream that keeps every byte in memory, for the fuzz targets.
#pragma once

#include <cstdint>
#include <vector>

#include "gfxstream/OutputStream.h"

class MemoryOutputStream : public GFXStream::OutputStream {
  public:
    void WriteByte(std::uint8_t value) override { bytes.push_back(value); }
    void WriteWord(std::uint16_t value) override {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void WriteDword(std::uint32_t value) override {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
        }
    }
    void Write(const void* buffer, std::uint32_t n) override {
        const auto* p = static_cast<const std::uint8_t*>(buffer);
        bytes.insert(bytes.end(), p, p + n);
    }

    std::vector<std::uint8_t> bytes;
};
