// An OutputStream that writes nothing: it compares what it is given with the
// bytes an input stream reads, so that a file can be checked against what
// the writer would make of it without holding either in memory twice.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gfxstream/BlockOutputStream.h"
#include "gfxstream/InputStream.h"

namespace GFXStream {

class ComparingOutputStream : public BlockOutputStream {
  public:
    explicit ComparingOutputStream(InputStream& original) : original_(original) {}

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
    InputStream& original_;
    bool same_ = true;
};

}  // namespace GFXStream
