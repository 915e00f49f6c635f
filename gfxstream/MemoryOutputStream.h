// An OutputStream that keeps every byte in memory: for checking what the
// writer would put in a file without touching the disk, in the program, its
// tests, benchmarks and fuzz targets. An optional capacity makes it refuse,
// like a full device, any write that would pass it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gfxstream/BlockOutputStream.h"
#include "gfxstream/Exception.h"

namespace GFXStream {

class MemoryOutputStream : public BlockOutputStream {
  public:
    explicit MemoryOutputStream(std::size_t capacity = SIZE_MAX) : capacity_(capacity) {}

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
