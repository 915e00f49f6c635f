// Reads a whole file through one read-only memory mapping. Every read takes
// its bytes straight from the mapped view; nothing is buffered.
//
// Open answers false on any failure (missing, unreadable, not a regular
// file, empty, or not mappable) and releases what it took. Files of any size
// the address space can hold are mapped whole; sizes are 64-bit throughout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/FileHandle.h"

namespace GFXStream {

class MappedFileInputStream : public ByteRangeInputStream {
  public:
    MappedFileInputStream() = default;
    MappedFileInputStream(const MappedFileInputStream&) = delete;
    MappedFileInputStream& operator=(const MappedFileInputStream&) = delete;
    ~MappedFileInputStream() override;

    bool Open(const char* fileName);
    void Close();
    bool IsOpen() const { return fileHandle != kInvalidFileHandle; }
    std::uint64_t Size() const { return mappedSize; }

  protected:
    void Consumed() override;

  private:
    FileHandle fileHandle = kInvalidFileHandle;
#ifdef _WIN32
    HANDLE mappingHandle = nullptr;
#endif
    std::size_t mappedSize = 0;
    // Start of the part of the view whose pages have not yet been handed
    // back to the system.
    const std::uint8_t* retainedFrom = nullptr;
};

}  // namespace GFXStream
