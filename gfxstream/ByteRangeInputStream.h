// An InputStream over one range of bytes, seen through a window that holds
// the whole range (bytes in memory) or a part of it (a large mapped file,
// whose window moves as it is read). The mapped file stream and the
// in-memory stream both read through it, so the end-of-data rules live in
// one place.
//
// Beyond the stream operations it offers random access, for readers that
// take a file's rows in another order than they are stored: Seek, and Span,
// the address of a few bytes anywhere in the range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gfxstream/InputStream.h"

namespace GFXStream {

class ByteRangeInputStream : public InputStream {
  public:
    std::uint8_t ReadByte() override;
    std::uint16_t ReadWord() override;
    std::uint32_t ReadDword() override;
    std::uint32_t Read(void* buffer, std::uint32_t n) override;
    std::uint32_t Skip(std::uint32_t n) override;
    std::uint32_t SkipBack(std::int32_t arg, std::uint32_t n) override;
    std::uint64_t Remaining() const override;

    // Bytes consumed since the start of the range.
    std::uint64_t Offset() const {
        return windowOffset + static_cast<std::uint64_t>(position - viewBase);
    }
    std::uint64_t RangeSize() const { return rangeSize; }
    // Moves to `offset`, at most the end of the range.
    void Seek(std::uint64_t offset);
    // The address of the n bytes from `offset`, or null when they pass the
    // end of the range. Valid until the next operation on the stream. n may
    // be at most kMaxSpan.
    const std::uint8_t* Span(std::uint64_t offset, std::size_t n);
    static constexpr std::size_t kMaxSpan = std::size_t{1} << 20;
    // The most a reader that moves through the range should ask for at
    // once: larger spans are read, but may bring bytes into view twice.
    virtual std::size_t PreferredSpan() const { return kMaxSpan; }
    // Raises when the bytes already read may not be what the range held (a
    // mapped file cut short under the reader).
    void CheckUnchanged() { Consumed(); }

  protected:
    ByteRangeInputStream() = default;
    // The whole range in view, or its first window of `windowSize` bytes.
    void SetRange(const std::uint8_t* begin, std::size_t size);
    void SetWindow(const std::uint8_t* begin, std::size_t windowSize, std::uint64_t offset,
                   std::uint64_t size);
    void ClearRange();
    // Brings into view the n bytes from `offset` (which lie in the range) and
    // calls SetWindow; `backward` says the reader is moving towards the
    // start. A stream whose window holds the whole range never needs it.
    virtual void MoveWindow(std::uint64_t offset, std::size_t n, bool backward);
    // Called after every move forward; the mapped stream uses it to let the
    // system drop pages it has finished with.
    virtual void Consumed() {}

    const std::uint8_t* viewBase = nullptr;  // first byte in view
    const std::uint8_t* position = nullptr;  // next byte to read
    const std::uint8_t* end = nullptr;       // one past the last byte in view
    std::uint64_t windowOffset = 0;          // offset in the range of viewBase
    std::uint64_t rangeSize = 0;

  private:
    // Whether n more bytes can be read: they are brought into view if needed.
    bool Ensure(std::size_t n);
    // Brings `offset` into view and moves the read position there.
    void ViewAt(std::uint64_t offset, std::size_t n, bool backward);
};

}  // namespace GFXStream
