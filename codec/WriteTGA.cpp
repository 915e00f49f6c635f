#include "codec/WriteTGA.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/TGAHeader.h"
#include "gfxstream/Exception.h"

namespace Codec {

using GFXStream::Exception;
using GFXStream::OutputStream;

namespace {

// Size of one block of contiguous rows handed to the stream: large enough
// to pass the ring and go to the file straight from the image, small enough
// that each system write stays short (one write of the whole image stalled
// on page-cache allocation and made timings swing from 0.2 to 0.8 s).
constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

bool FitsWord(std::int32_t value) {
    return value >= 0 && value <= 0xFFFF;
}

std::uint8_t ImageTypeFor(const ImageDesc& image, bool rle) {
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

void Validate(const ImageDesc& image) {
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

void WriteHeader(OutputStream& stream, const ImageDesc& image, bool rle, std::uint8_t alphaBits) {
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
    header.imageDescriptor = static_cast<std::uint8_t>(alphaBits & 0x0F);
    std::uint8_t bytes[TGAHeader::kSize];
    header.Encode(bytes);
    stream.Write(bytes, TGAHeader::kSize);
}

void WriteColourMap(OutputStream& stream, const RowSource& source) {
    const auto entries = static_cast<std::uint32_t>(source.Describe().paletteSize);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const PaletteColour colour = source.PaletteEntry(i);
        stream.WriteByte(colour.blue);
        stream.WriteByte(colour.green);
        stream.WriteByte(colour.red);
    }
}

// A pixel of B bytes as one number, so that comparing two pixels is one
// integer comparison rather than a call.
template <std::uint32_t B>
std::uint32_t PixelAt(const std::uint8_t* row, std::uint32_t i) {
    const std::uint8_t* const pixel = row + std::size_t{i} * B;
    if constexpr (B == 1) {
        return pixel[0];
    } else if constexpr (B == 2) {
        std::uint16_t value;
        std::memcpy(&value, pixel, 2);
        return value;
    } else if constexpr (B == 3) {
        // Assembled in registers: a 3-byte copy into a 4-byte variable is
        // stored in pieces and read back whole, which stalls the load.
        return std::uint32_t{pixel[0]} | std::uint32_t{pixel[1]} << 8 |
               std::uint32_t{pixel[2]} << 16;
    } else {
        std::uint32_t value;
        std::memcpy(&value, pixel, 4);
        return value;
    }
}

std::uint64_t Load64(const std::uint8_t* bytes) {
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The byte index (0 to 7) of the lowest zero byte of `word`, or 8 when it has
// none. Borrows run only upward from a zero byte, so the lowest byte flagged
// is a true zero.
std::uint32_t LowestZeroByte(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    const std::uint64_t flags = (word - kOnes) & ~word & kHighs;
    return flags == 0 ? 8 : static_cast<std::uint32_t>(std::countr_zero(flags)) / 8;
}

// The first pixel index in [from, limit) whose value is not `value`, or
// `limit`. Single bytes are compared eight at a time.
template <std::uint32_t B>
std::uint32_t RunEnd(const std::uint8_t* row, std::uint32_t from, std::uint32_t limit,
                     std::uint32_t value) {
    std::uint32_t i = from;
    if constexpr (B == 1 && std::endian::native == std::endian::little) {
        const std::uint64_t repeated = 0x0101010101010101u * value;
        for (; i + 8 <= limit; i += 8) {
            const std::uint64_t differences = Load64(row + i) ^ repeated;
            if (differences != 0) {
                return i + static_cast<std::uint32_t>(std::countr_zero(differences)) / 8;
            }
        }
    }
    while (i < limit && PixelAt<B>(row, i) == value) {
        ++i;
    }
    return i;
}

// The first pixel index i in [from, limit) where pixel i equals pixel i + 1
// and i + 1 still lies in the row, or `limit`: where a raw stretch must end
// so that the equal pair can open a run. Single bytes are compared eight
// neighbour pairs at a time.
template <std::uint32_t B>
std::uint32_t EqualPairStart(const std::uint8_t* row, std::uint32_t from, std::uint32_t limit,
                             std::uint32_t width) {
    std::uint32_t i = from;
    if constexpr (B == 1 && std::endian::native == std::endian::little) {
        for (; i + 8 <= limit && i + 9 <= width; i += 8) {
            const std::uint32_t k = LowestZeroByte(Load64(row + i) ^ Load64(row + i + 1));
            if (k != 8) {
                return i + k;
            }
        }
    }
    std::uint32_t next = i < width ? PixelAt<B>(row, i) : 0;
    for (; i < limit && i + 1 < width; ++i) {
        const std::uint32_t current = next;
        next = PixelAt<B>(row, i + 1);
        if (current == next) {
            return i;
        }
    }
    return limit;
}

// Packets exactly as the rules of the format ask; only the comparisons are
// done on whole pixel values (and for 8-bit rows on whole words).
template <std::uint32_t B>
void WriteRunLengthRowOf(OutputStream& stream, const std::uint8_t* row, std::uint32_t width) {
    std::uint32_t x = 0;
    while (x < width) {
        const std::uint8_t* const at = row + std::size_t{x} * B;
        const std::uint32_t limit = x + std::min<std::uint32_t>(128, width - x);
        const std::uint32_t value = PixelAt<B>(row, x);
        if (width - x >= 2 && PixelAt<B>(row, x + 1) == value) {
            const std::uint32_t run = RunEnd<B>(row, x + 2, limit, value) - x;
            stream.WriteByte(static_cast<std::uint8_t>(0x80 + run - 1));
            stream.Write(at, B);
            x += run;
            continue;
        }
        // The equal pair, if any, opens the next packet as a run.
        const std::uint32_t count = EqualPairStart<B>(row, x + 1, limit, width) - x;
        stream.WriteByte(static_cast<std::uint8_t>(count - 1));
        stream.Write(at, count * B);
        x += count;
    }
}

void WriteRunLengthRow(OutputStream& stream, const std::uint8_t* row, std::uint32_t width,
                       std::uint32_t bytesPerPixel) {
    switch (bytesPerPixel) {
        case 1:
            WriteRunLengthRowOf<1>(stream, row, width);
            break;
        case 2:
            WriteRunLengthRowOf<2>(stream, row, width);
            break;
        case 3:
            WriteRunLengthRowOf<3>(stream, row, width);
            break;
        default:
            WriteRunLengthRowOf<4>(stream, row, width);
            break;
    }
}

void WriteBody(OutputStream& stream, RowSource& source, bool rle, std::uint8_t alphaBits) {
    const ImageDesc& image = source.Describe();
    Validate(image);
    WriteHeader(stream, image, rle, alphaBits);
    if (WritesColourMap(image)) {
        WriteColourMap(stream, source);
    }
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto bytesPerPixel = static_cast<std::uint32_t>(image.bitsPerPixel / 8);
    const auto height = static_cast<std::uint32_t>(image.height);
    const std::size_t rowBytes = RowBytesOf(image);
    if (rowBytes == 0) {
        return;  // no pixels, and no packets either
    }
    RowBlocks blocks;
    if (rle) {
        for (std::uint32_t y = 0; y < height; ++y) {
            source.Rows(y, 1, blocks);
            WriteRunLengthRow(stream, blocks.block[0].data(), width, bytesPerPixel);
        }
        source.Finish();
        return;
    }
    StoredRows stored;
    if (source.RowsAsStored(stored)) {
        stream.CopyFrom(*stored.file, stored.offset, stored.size);
        source.Finish();
        return;
    }
    // Rows go out about a megabyte at a time, which the output stream hands
    // to the file straight from the source's memory.
    const std::uint32_t rowsPerWrite =
        static_cast<std::uint32_t>(std::max<std::size_t>(1, kLargeBlockBytes / rowBytes));
    const std::uint64_t pixelStart =
        TGAHeader::kSize +
        (WritesColourMap(image) ? 3 * static_cast<std::uint64_t>(image.paletteSize) : 0);
    for (std::uint32_t y = 0; y < height;) {
        blocks.at = pixelStart + std::uint64_t{y} * rowBytes;
        y += source.Rows(y, std::min(rowsPerWrite, height - y), blocks);
        stream.WriteGathered(blocks.block, blocks.count);
    }
    source.Finish();
}

}  // namespace

bool WritesColourMap(const ImageDesc& image) {
    const bool indexed = image.bitsPerPixel == 8 || image.imageClass == ImageClass::ColourMapped;
    return indexed && image.paletteSize != 0;
}

void WriteTGA(OutputStream& stream, const Image& image, bool rle, std::uint8_t alphaBits) {
    ImageRows rows(image);
    WriteTGA(stream, rows, rle, alphaBits);
}

void WriteTGA(OutputStream& stream, RowSource& source, bool rle, std::uint8_t alphaBits) {
    try {
        WriteBody(stream, source, rle, alphaBits);
    } catch (const Exception& caught) {
        // A source cut short under the writer is the source's failure.
        if (caught.message != nullptr &&
            std::strcmp(caught.message, GFXStream::kFileChangedText) == 0) {
            throw;
        }
        GFXStream::RaiseWithPrefix("WriteTGA: ", caught);
    }
}

}  // namespace Codec
