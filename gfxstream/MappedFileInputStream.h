// Reads a file through a read-only memory mapping. Every read takes its
// bytes straight from the mapped view; nothing is buffered. A file larger
// than the window (8 MiB) is seen through a window that moves with the
// reads, so a file of any size can be read under a small address-space
// limit and takes at most a window of resident memory.
//
// A small file (at most kReadWholeUpTo bytes) is read whole instead, with
// one read into a buffer the stream keeps from file to file: mapping and
// unmapping it would cost more system calls and page-table work than the
// copy (on POSIX; Windows always maps).
//
// Open answers false on any failure (missing, unreadable, not a regular
// file, empty, or not mappable) and releases what it took, and WhyNot()
// then says why; sizes are 64-bit throughout. A FIFO, device or socket is
// refused before it is opened (the file layer opens it: Files::OpenInput). A window that cannot be
// mapped later raises std::bad_alloc.
//
// A file cut short by another program while it is mapped would make the
// system stop the process (SIGBUS on Linux) at the first read past its new
// end. The stream guards against that: the lost part of the view reads as
// zero, and the next read raises kFileChangedText instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "files/FileHandle.h"
#include "files/FileSystem.h"
#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/Exception.h"

namespace GFXStream {

struct MappedViewGuard;

class MappedFileInputStream : public ByteRangeInputStream {
  public:
    MappedFileInputStream() = default;
    MappedFileInputStream(const MappedFileInputStream&) = delete;
    MappedFileInputStream& operator=(const MappedFileInputStream&) = delete;
    ~MappedFileInputStream() override;

    // With `known` and `folders`, a source that is the file the batch's
    // plan found at its destination is opened as the plan found it (see
    // Files::OpenInput), on POSIX.
    bool Open(const char* fileName, const Files::KnownDestination* known = nullptr,
              Files::FolderCache* folders = nullptr);
    // The file as the file layer opened it, which a replacement of that
    // same file may share (Files::CreateReplacement) while it stays open.
    const Files::OpenedInput& AsOpened() const { return asOpened; }
    // Why the last Open failed, in the system's words or the file layer's.
    const std::string& WhyNot() const { return whyNot; }
    void Close();
    bool IsOpen() const { return fileHandle != Files::kInvalidFileHandle; }
    std::uint64_t Size() const { return fileSize; }
    // The open file, for reading it by position (PositionalFileInputStream).
    Files::FileHandle Handle() const { return fileHandle; }
    // The whole file is in memory: reading it again by position gains nothing.
    bool InMemory() const { return readWhole; }

    // Up to this size a file is read whole rather than mapped. Opening a
    // file, touching every page and closing it, side by side on a 2-core
    // host: one read took a twentieth of a mapping's time from 16 KiB to
    // 1 MiB and 1.2 times it at 4 MiB; past 1 MiB the buffer would also
    // cost more memory than it saves.
    static constexpr std::uint64_t kReadWholeUpTo = std::uint64_t{1} << 20;

  protected:
    void MoveWindow(std::uint64_t offset, std::size_t n, bool backward) override;
    void Consumed() override;

  private:
    // The part of the file in view at a time, so that neither the address
    // space nor the resident memory the file takes grows with the file.
    static constexpr std::size_t kWindowSize = std::size_t{8} << 20;

    // Where the window that brings bytes [offset, offset + n) into view
    // starts, on a multiple of `grain` (the system's mapping alignment).
    // Forward, it starts at the bytes wanted. Backward, it ends a little
    // after them (room for a row read on from there), so that the bytes
    // before them come into view as well.
    static std::uint64_t WindowStart(std::uint64_t offset, std::size_t n, bool backward,
                                     std::uint64_t grain) {
        std::uint64_t start = offset;
        if (backward) {
            const std::uint64_t span = n > kMaxSpan ? n : kMaxSpan;
            const std::uint64_t reach = kWindowSize - grain;
            start = offset + span > reach ? offset + span - reach : 0;
        }
        return start - start % grain;
    }

    bool MapWindow(std::uint64_t start, bool populate);
    // Reads the whole (small) file into `whole`; false when the system
    // refuses. A file cut short meanwhile reads as zero past its new end,
    // and the next read raises kFileChangedText, as a mapped one does.
    bool ReadWhole();
#ifdef _WIN32
    bool OpenMapped(const char* fileName);
#endif
    void UnmapWindow();

    Files::FileHandle fileHandle = Files::kInvalidFileHandle;
#ifdef _WIN32
    HANDLE mappingHandle = nullptr;
#endif
    std::uint64_t fileSize = 0;
    void* mappedView = nullptr;
    std::size_t mappedSize = 0;
    // The window's guard against a file cut short under it (POSIX).
    MappedViewGuard* guard = nullptr;
    std::unique_ptr<std::uint8_t[]> whole;  // kReadWholeUpTo bytes and a page, once used
    bool readWhole = false;
    bool cutShort = false;  // the file read whole ended before its size
    std::string whyNot;
    Files::OpenedInput asOpened;
};

}  // namespace GFXStream
