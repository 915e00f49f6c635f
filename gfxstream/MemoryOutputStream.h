// An OutputStream that keeps every byte in memory: for checking what the
// writer would put in a file without touching the disk, in the program, its
// tests, benchmarks and fuzz targets. An optional capacity makes it refuse,
// like a full device, any write that would pass it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfxstream/Exception.h"
#include "gfxstream/OutputStream.h"

namespace GFXStream {

class MemoryOutputStream : public OutputStream {
  public:
    explicit MemoryOutputStream(std::size_t capacity = SIZE_MAX) : capacity_(capacity) {}

    void WriteByte(std::uint8_t value) override { Write(&value, 1); }
    void WriteWord(std::uint16_t value) override {
        const std::uint8_t bytes2[2] = {static_cast<std::uint8_t>(value & 0xFF),
                                        static_cast<std::uint8_t>(value >> 8)};
        Write(bytes2, 2);
    }
    void WriteDword(std::uint32_t value) override {
        WriteWord(static_cast<std::uint16_t>(value & 0xFFFF));
        WriteWord(static_cast<std::uint16_t>(value >> 16));
    }
    void Write(const void* buffer, std::uint32_t n) override {
        if (n == 0 || buffer == nullptr) {
            return;
        }
        if (n > capacity_ - bytes.size()) {
            throw Exception(kUnableToWriteText);
        }
        const auto* data = static_cast<const std::uint8_t*>(buffer);
        bytes.insert(bytes.end(), data, data + n);
    }

    std::vector<std::uint8_t> bytes;

  private:
    std::size_t capacity_;
};

}  // namespace GFXStream
