#include "image/WriteTGA.h"

#include <cstring>

#include "gfxstream/Exception.h"
#include "image/TGAHeader.h"

using GFXStream::Exception;
using GFXStream::OutputStream;

namespace {

bool FitsWord(std::int32_t value) {
    return value >= 0 && value <= 0xFFFF;
}

bool WritesColourMap(const Image& image) {
    const bool indexed = image.bitsPerPixel == 8 || image.imageClass == ImageClass::ColourMapped;
    return indexed && image.paletteSize != 0;
}

std::uint8_t ImageTypeFor(const Image& image, bool rle) {
    std::uint8_t type = 1;
    // An 8-bit picture without a palette has nothing to index: as Image
    // Type 1 it would be a colour-mapped file without a colour map, which no
    // reader (this one included) can give colours to. It keeps its class.
    if (image.bitsPerPixel != 8 || !WritesColourMap(image)) {
        switch (image.imageClass) {
            case ImageClass::ColourMapped:
                type = 1;
                break;
            case ImageClass::Greyscale:
                type = 3;
                break;
            case ImageClass::TrueColour:
                type = 2;
                break;
        }
    }
    return static_cast<std::uint8_t>(type + (rle ? 8 : 0));
}

void Validate(const Image& image) {
    const int depth = image.bitsPerPixel;
    if (depth < 8 || depth > 32 || depth % 8 != 0) {
        throw Exception(kUnsupportedColourDepthText);
    }
    if (!FitsWord(image.width) || !FitsWord(image.height) || !FitsWord(image.xOrigin) ||
        !FitsWord(image.yOrigin)) {
        throw Exception(kDimensionsTooLargeText);
    }
    if (WritesColourMap(image) && !FitsWord(image.paletteSize)) {
        throw Exception(kPaletteTooLargeText);
    }
}

void WriteHeader(OutputStream& stream, const Image& image, bool rle) {
    const bool colourMap = WritesColourMap(image);
    TGAHeader header;
    header.colorMapType = colourMap ? 1 : 0;
    header.imageType = ImageTypeFor(image, rle);
    header.colorMapLength = colourMap ? static_cast<std::uint16_t>(image.paletteSize) : 0;
    header.colorMapEntrySize = colourMap ? 24 : 0;
    header.xOrigin = static_cast<std::uint16_t>(image.xOrigin);
    header.yOrigin = static_cast<std::uint16_t>(image.yOrigin);
    header.width = static_cast<std::uint16_t>(image.width);
    header.height = static_cast<std::uint16_t>(image.height);
    header.pixelDepth = static_cast<std::uint8_t>(image.bitsPerPixel);
    std::uint8_t bytes[TGAHeader::kSize];
    header.Encode(bytes);
    stream.Write(bytes, TGAHeader::kSize);
}

void WriteColourMap(OutputStream& stream, const Image& image) {
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(image.paletteSize); ++i) {
        const PaletteColour colour = image.GetPaletteEntry(i);
        stream.WriteByte(colour.blue);
        stream.WriteByte(colour.green);
        stream.WriteByte(colour.red);
    }
}

void WriteRunLengthRow(OutputStream& stream, const std::uint8_t* row, std::uint32_t width,
                       std::uint32_t bytesPerPixel) {
    const auto same = [&](std::uint32_t a, std::uint32_t b) {
        return std::memcmp(row + std::size_t{a} * bytesPerPixel,
                           row + std::size_t{b} * bytesPerPixel, bytesPerPixel) == 0;
    };
    std::uint32_t x = 0;
    while (x < width) {
        const std::uint8_t* const at = row + std::size_t{x} * bytesPerPixel;
        if (width - x >= 2 && same(x, x + 1)) {
            std::uint32_t run = 2;
            while (run < 128 && x + run < width && same(x, x + run)) {
                ++run;
            }
            stream.WriteByte(static_cast<std::uint8_t>(0x80 + run - 1));
            stream.Write(at, bytesPerPixel);
            x += run;
            continue;
        }
        std::uint32_t count = 1;
        while (count < 128 && x + count < width) {
            if (x + count + 1 < width && same(x + count, x + count + 1)) {
                break;  // the equal pair opens the next packet as a run
            }
            ++count;
        }
        stream.WriteByte(static_cast<std::uint8_t>(count - 1));
        stream.Write(at, count * bytesPerPixel);
        x += count;
    }
}

void WriteBody(OutputStream& stream, const Image& image, bool rle) {
    Validate(image);
    WriteHeader(stream, image, rle);
    if (WritesColourMap(image)) {
        WriteColourMap(stream, image);
    }
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto bytesPerPixel = static_cast<std::uint32_t>(image.bytesPerPixel);
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(image.height); ++y) {
        if (rle) {
            WriteRunLengthRow(stream, image.Row(y), width, bytesPerPixel);
        } else {
            stream.Write(image.Row(y), width * bytesPerPixel);
        }
    }
}

}  // namespace

void WriteTGA(OutputStream& stream, const Image& image, bool rle) {
    try {
        WriteBody(stream, image, rle);
    } catch (const Exception& caught) {
        GFXStream::RaiseWithPrefix("WriteTGA: ", caught);
    }
}
