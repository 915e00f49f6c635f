// A picture as the writer takes it: its description, its palette, and its
// rows from the bottom row upward, left to right, each row the pixels'
// bytes without tail bytes. An Image provides one (ImageRows); so does a
// file read in place (TGAFileRows), so that one writer serves both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/Image.h"

class RowSource {
  public:
    virtual ~RowSource() = default;

    // Width, height, origins, depth, palette size and class.
    virtual const ImageDesc& Describe() const = 0;
    // The palette entry at `index`, all zero beyond the palette.
    virtual PaletteColour PaletteEntry(std::uint32_t index) const = 0;
    // Row y (counted from the bottom) and, when they follow it back to back
    // in the source's memory, up to `most` - 1 of the rows above it: whole
    // rows, at least one. Valid until the next call. The caller keeps
    // y < height and 1 <= most <= height - y.
    virtual std::span<const std::uint8_t> Rows(std::uint32_t y, std::uint32_t most) = 0;
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
    std::span<const std::uint8_t> Rows(std::uint32_t y, std::uint32_t most) override;

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
