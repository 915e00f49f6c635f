// The in-memory raster: exactly what is needed to write a TGA file again.
//
// Rows are held bottom-up (row 0 is the bottom row), pixels left to right,
// each pixel as the bytes the file stored, uninterpreted. Every row starts
// `stride` bytes after the previous one; `stride` is the row's pixel bytes
// rounded up to a multiple of 4, and the 0 to 3 tail bytes belong to no
// pixel. All offsets are computed in 64 bits.
//
// Accessors answer an out-of-range index with a neutral value (null, 0, an
// all-zero colour, false) and raise nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace Codec {

struct PaletteColour {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    friend bool operator==(const PaletteColour&, const PaletteColour&) = default;
};
static_assert(sizeof(PaletteColour) == 3, "palette entries lie packed, 3 bytes apart");

// What the pixel values mean. The writer needs it to keep a picture's
// meaning when its pixels are deeper than 8 bits: indices stay indices and
// grey stays grey.
enum class ImageClass : std::int32_t {
    ColourMapped = 1,
    TrueColour = 2,
    Greyscale = 3,
};

struct ImageDesc {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t xOrigin = 0;
    std::int32_t yOrigin = 0;
    std::uint32_t fill = 0;
    std::int32_t bitsPerPixel = 0;
    std::int32_t paletteSize = 0;
    ImageClass imageClass = ImageClass::TrueColour;
};

class Image {
  public:
    // Raises std::bad_alloc when the buffers cannot be had, including any
    // size this machine cannot address.
    explicit Image(ImageDesc desc);
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() = default;

    std::uint8_t* Row(std::uint32_t y);
    const std::uint8_t* Row(std::uint32_t y) const;
    // Copies width x bytesPerPixel bytes; the caller guarantees y < height.
    void SetRow(std::uint32_t y, const void* data);
    std::uint32_t GetPixel(std::uint32_t x, std::uint32_t y) const;
    PaletteColour GetPaletteEntry(std::uint32_t index) const;
    bool SetPaletteEntry(std::uint32_t index, PaletteColour colour);

    std::size_t RowBytes() const { return rowBytes; }
    std::size_t PixelBufferSize() const { return pixelBufferSize; }

    const std::int32_t width;
    const std::int32_t height;
    const std::int32_t xOrigin;
    const std::int32_t yOrigin;
    const std::uint32_t fill;
    const std::int32_t bitsPerPixel;
    const std::int32_t bytesPerPixel;
    const std::int32_t stride;
    const std::int32_t paletteSize;
    const ImageClass imageClass;

  private:
    struct FreeDeleter {
        void operator()(void* block) const { std::free(block); }
    };

    std::size_t RowOffset(std::uint32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
    }

    std::size_t rowBytes;
    std::size_t pixelBufferSize;
    std::unique_ptr<PaletteColour[]> palette;
    std::unique_ptr<std::uint8_t, FreeDeleter> pixels;
};

}  // namespace Codec
