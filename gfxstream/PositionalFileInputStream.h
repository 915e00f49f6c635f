// Reads an open file by position into a buffer of its own, which it reuses:
// the bulk of a large picture goes through it, so that the file's pages are
// never mapped into the process (on some hosts filling and tearing down the
// page tables of a mapping costs twice the copy itself). The buffer is made
// at the first read, so a stream that is never read costs nothing.
//
// A file stream (FileOutputStream::CopyFrom) recognises this stream and
// copies its bytes from file to file inside the system where it can.
//
// A file cut short under the stream raises kFileChangedText when the bytes
// it lost are read; a refused read raises kUnableToReadText.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "files/FileHandle.h"
#include "gfxstream/ByteRangeInputStream.h"

namespace GFXStream {

inline constexpr const char* kUnableToReadText = "Unable to read from file";

class PositionalFileInputStream : public ByteRangeInputStream {
  public:
    // The first `size` bytes of `file`, which the caller keeps open for as
    // long as the stream is read.
    PositionalFileInputStream(Files::FileHandle file, std::uint64_t size);
    PositionalFileInputStream(const PositionalFileInputStream&) = delete;
    PositionalFileInputStream& operator=(const PositionalFileInputStream&) = delete;

    Files::FileHandle File() const { return file; }

    // Bytes read at a time: small enough that what is read is still in the
    // processor's cache when it is written out again. Spans of half of it
    // are each read once, forward or backward; a larger span (at most
    // kMaxSpan) is read whole.
    static constexpr std::size_t kReadSize = std::size_t{512} << 10;
    std::size_t PreferredSpan() const override { return kReadSize / 2; }

  protected:
    void MoveWindow(std::uint64_t offset, std::size_t n, bool backward) override;

  private:
    Files::FileHandle file;
    std::unique_ptr<std::uint8_t[]> buffer;
};

}  // namespace GFXStream
