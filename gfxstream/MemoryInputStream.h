// An InputStream over bytes the caller holds in memory, for tests and
// fuzzing. The program itself reads mapped files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfxstream/ByteRangeInputStream.h"

namespace GFXStream {

class MemoryInputStream : public ByteRangeInputStream {
  public:
    // The bytes must outlive the stream.
    MemoryInputStream(const void* data, std::size_t size) {
        SetRange(static_cast<const std::uint8_t*>(data), size);
    }
};

}  // namespace GFXStream
