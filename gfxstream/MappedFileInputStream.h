// Reads a file through a read-only memory mapping. Every read takes its
// bytes straight from the mapped view; nothing is buffered. A file larger
// than the window (8 MiB) is seen through a window that moves with the
// reads, so a file of any size can be read under a small address-space
// limit and takes at most a window of resident memory.
//
// A small file (ReadsWhole) is read instead, whole, with one positional
// read into a buffer the stream keeps from file to file, at its first read:
// for such a file, making and tearing down a mapping costs more than the
// copy. The buffer never grows past kWholeUpTo, whatever the files' sizes.
// A file found shorter than it was when opened raises kFileChangedText.
// (POSIX; on Windows every file is mapped.)
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

    // `wholeUpTo`: the largest file read whole; only measurements give
    // another than kWholeUpTo.
    bool Open(const char* fileName, std::uint64_t wholeUpTo = kWholeUpTo);
    // Why the last Open failed, in the system's words or the file layer's.
    const std::string& WhyNot() const { return whyNot; }
    void Close();
    bool IsOpen() const { return fileHandle != Files::kInvalidFileHandle; }
    std::uint64_t Size() const { return fileSize; }
    // The open file, for reading it by position (PositionalFileInputStream).
    Files::FileHandle Handle() const { return fileHandle; }
    // Whether the open file is read whole into memory rather than mapped;
    // its rows are then best taken from this stream, not read again.
    bool InMemory() const { return wholeSize != 0; }

    // Up to this size a file costs less read whole than mapped and read by
    // position (tessary_bench, BM_ConvertFile, path 3 against 0 and 1: a
    // third to a tenth of the time up to 1 MiB, level from about 4 MiB). It
    // is also what the buffer may take per stream, so it stays below that.
    static constexpr std::uint64_t kWholeUpTo = std::uint64_t{2} << 20;
    static bool ReadsWhole(std::uint64_t size, std::uint64_t wholeUpTo = kWholeUpTo) {
        return size <= wholeUpTo;
    }

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
#ifdef _WIN32
    bool OpenMapped(const char* fileName);
#endif
    void UnmapWindow();
    // Reads the whole file into `whole`, raising when it cannot.
    void ReadWhole();

    Files::FileHandle fileHandle = Files::kInvalidFileHandle;
#ifdef _WIN32
    HANDLE mappingHandle = nullptr;
#endif
    std::uint64_t fileSize = 0;
    void* mappedView = nullptr;
    std::size_t mappedSize = 0;
    // The window's guard against a file cut short under it (POSIX).
    MappedViewGuard* guard = nullptr;
    // The file's size while it is read whole, else 0; the buffer it is read
    // into, kept for the next file, and its capacity.
    std::uint64_t wholeSize = 0;
    std::unique_ptr<std::uint8_t[]> whole;
    std::size_t wholeCapacity = 0;
    std::string whyNot;
};

}  // namespace GFXStream
