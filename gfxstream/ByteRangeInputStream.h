// An InputStream over one contiguous range of bytes that stays valid while
// it is read. The mapped file stream and the in-memory stream both read
// through it, so the end-of-data rules live in one place.
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
    std::uint64_t Offset() const { return static_cast<std::uint64_t>(position - viewBase); }

  protected:
    ByteRangeInputStream() = default;
    void SetRange(const std::uint8_t* begin, std::size_t size);
    void ClearRange();
    // Called after every move forward; the mapped stream uses it to let the
    // system drop pages it has finished with.
    virtual void Consumed() {}

    const std::uint8_t* viewBase = nullptr;
    const std::uint8_t* position = nullptr;
    const std::uint8_t* end = nullptr;

  private:
    std::uint32_t TakeUpTo(std::uint32_t n);
};

}  // namespace GFXStream
