// A picture as the writer takes it: its description, its palette, and its
// rows from the bottom row upward, left to right, each row the pixels'
// bytes without tail bytes. An Image provides one (ImageRows); so does a
// file read in place (TGAFileRows), so that one writer serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/Image.h"
#include "gfxstream/ByteRangeInputStream.h"

namespace Codec {

// A few blocks of rows, each of whole rows lying back to back.
struct RowBlocks {
    static constexpr std::uint32_t kMost = 64;
    std::span<const std::uint8_t> block[kMost];
    std::size_t count = 0;
    // Where in the output file the first block goes: a source that makes
    // rows in memory puts them at the same offset within a page, which the
    // system copies to the file several times faster on some processors.
    std::uint64_t at = 0;
};

// Every row at once, as a stretch of the bytes a source reads: rows that are
// stored exactly as they are written need neither a row buffer nor a look.
struct StoredRows {
    GFXStream::ByteRangeInputStream* file = nullptr;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

class RowSource {
  public:
    virtual ~RowSource() = default;

    // Width, height, origins, depth, palette size and class.
    virtual const ImageDesc& Describe() const = 0;
    // The palette entry at `index`, all zero beyond the palette.
    virtual PaletteColour PaletteEntry(std::uint32_t index) const = 0;
    // Rows y to y + k - 1 (counted from the bottom; 1 <= k <= most) as
    // blocks of whole rows in output order, all valid until the next call;
    // answers k. The caller keeps y < height and 1 <= most <= height - y.
    virtual std::uint32_t Rows(std::uint32_t y, std::uint32_t most, RowBlocks& blocks) = 0;
    // When all rows lie in the source's bytes as they are written, bottom-up
    // and left to right, names them and answers true; the writer then has
    // the output copy them whole instead of asking for Rows.
    virtual bool RowsAsStored(StoredRows& /*rows*/) { return false; }
    // Called once the last row has been handed to the stream: a source that
    // reads a file raises here when the file changed under it meanwhile.
    virtual void Finish() {}
};

// The rows of an Image, read in place.
class ImageRows : public RowSource {
  public:
    explicit ImageRows(const Image& image);
    const ImageDesc& Describe() const override { return desc; }
    PaletteColour PaletteEntry(std::uint32_t index) const override {
        return image.GetPaletteEntry(index);
    }
    std::uint32_t Rows(std::uint32_t y, std::uint32_t most, RowBlocks& blocks) override;

  private:
    const Image& image;
    ImageDesc desc;
};

// Bytes of one row of `desc` without tail bytes; depth 0 to 32 and width up
// to 65535 keep it far below any limit.
inline std::size_t RowBytesOf(const ImageDesc& desc) {
    return static_cast<std::size_t>(desc.width) *
           static_cast<std::size_t>((desc.bitsPerPixel + 7) / 8);
}

}  // namespace Codec
