// Reads a whole file through one read-only memory mapping. Every read takes
// its bytes straight from the mapped view; nothing is buffered.
//
// Open answers false on any failure (missing, unreadable, not a regular
// file, empty, or not mappable) and releases what it took. A FIFO, device or
// socket is refused without waiting for a writer or a device. Files of any size
// the address space can hold are mapped whole; sizes are 64-bit throughout.
//
// A file cut short by another program while it is mapped would make the
// system stop the process (SIGBUS on Linux) at the first read past its new
// end. The stream guards against that: the lost part of the view reads as
// zero, and the next read raises kFileChangedText instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/FileHandle.h"

namespace GFXStream {

inline constexpr const char* kFileChangedText = "File changed while it was read";

struct MappedViewGuard;

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
    // The view's guard against a file cut short under it (POSIX).
    MappedViewGuard* guard = nullptr;
};

}  // namespace GFXStream
