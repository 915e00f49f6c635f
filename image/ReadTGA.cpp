#include "image/ReadTGA.h"

#include <algorithm>
#include <cstring>

#include "gfxstream/Exception.h"
#include "image/CheckedSize.h"
#include "image/RowMirror.h"

using GFXStream::Exception;
using GFXStream::InputStream;

namespace {

void ReadExactly(InputStream& stream, void* buffer, std::uint32_t n) {
    if (stream.Read(buffer, n) != n) {
        throw Exception(GFXStream::kUnexpectedEndText);
    }
}

void SkipExactly(InputStream& stream, std::uint64_t n) {
    while (n > 0) {
        const auto step = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
        if (stream.Skip(step) != step) {
            throw Exception(GFXStream::kUnexpectedEndText);
        }
        n -= step;
    }
}

// Copies the first pixel of `run` over the rest of it. Runs are mostly tens
// to hundreds of pixels, where a string copy's start-up cost dominates, so
// the pixel is repeated into one 24-byte pattern (a whole number of 1-, 2-,
// 3- and 4-byte pixels, and of 8-byte words) and stored a word at a time.
// Nothing is stored beyond the run.
void Replicate(std::uint8_t* run, std::size_t pixelBytes, std::size_t count) {
    if (pixelBytes == 1) {
        std::memset(run + 1, run[0], count - 1);
        return;
    }
    const std::size_t total = pixelBytes * count;
    std::uint8_t pattern[24];
    for (std::size_t i = 0; i < sizeof pattern; i += pixelBytes) {
        std::memcpy(pattern + i, run, pixelBytes);
    }
    std::uint64_t words[3];
    std::memcpy(words, pattern, sizeof words);
    std::size_t offset = 0;
    for (; offset + sizeof pattern <= total; offset += sizeof pattern) {
        std::memcpy(run + offset, &words[0], 8);
        std::memcpy(run + offset + 8, &words[1], 8);
        std::memcpy(run + offset + 16, &words[2], 8);
    }
    // What is left is shorter than the pattern and starts on a pattern
    // boundary, so it is the pattern's first bytes.
    std::memcpy(run + offset, pattern, total - offset);
}

// Bytes of the colour-map region as stored: Color Map Length entries of the
// entry's whole bytes, whether or not this program can decode them.
std::uint64_t ColourMapRegionBytes(const TGAHeader& header) {
    if (!header.HasColourMap()) {
        return 0;
    }
    return std::uint64_t{header.colorMapLength} * ((header.colorMapEntrySize + 7u) / 8u);
}

// The fewest bytes that can hold the image data: every pixel byte when
// uncompressed; with run-length packets, one run packet per 128 pixels.
std::uint64_t MinimumPixelDataBytes(const TGAHeader& header) {
    const std::uint64_t bytesPerPixel = header.BytesPerPixel();
    const std::uint64_t rows = header.height;
    if (!header.IsRunLength()) {
        return rows * header.width * bytesPerPixel;
    }
    const std::uint64_t packetsPerRow = (std::uint64_t{header.width} + 127) / 128;
    return rows * packetsPerRow * (1 + bytesPerPixel);
}

void ValidateHeader(const TGAHeader& header) {
    if (!header.HasAcceptedClass()) {
        throw Exception(kUnsupportedImageTypeText);
    }
    if (!header.HasAcceptedDepth()) {
        throw Exception(kUnsupportedBitDepthText);
    }
    if (header.ImageClassBits() == 1) {
        if (!header.HasColourMap() || header.colorMapLength == 0) {
            throw Exception(kMissingColourMapText);
        }
        if (header.ColourMapEntryBytes() == 0) {
            throw Exception(kUnsupportedColourMapText);
        }
    }
}

ImageDesc DescribeImage(const TGAHeader& header) {
    ImageDesc desc;
    desc.width = header.width;
    desc.height = header.height;
    desc.xOrigin = header.xOrigin;
    desc.yOrigin = header.yOrigin;
    desc.fill = 0;
    desc.bitsPerPixel = header.pixelDepth;
    desc.imageClass = static_cast<ImageClass>(header.ImageClassBits());
    if (desc.imageClass == ImageClass::Greyscale) {
        desc.paletteSize = 256;
    } else {
        // No colour map can declare more than 65535 entries, and the writer
        // refuses a larger palette; an entry stored past that is dropped.
        const std::int32_t first = header.HasColourMap() ? header.firstEntryIndex : 0;
        desc.paletteSize = std::min(first + header.colorMapLength, 0xFFFF);
    }
    return desc;
}

void ReadColourMap(InputStream& stream, const TGAHeader& header, Image& image) {
    const std::uint32_t entryBytes = header.ColourMapEntryBytes();
    if (image.imageClass == ImageClass::Greyscale || entryBytes == 0) {
        // A greyscale palette is the grey ramp whatever is stored, and an
        // entry size that cannot be decoded leaves nothing to keep.
        SkipExactly(stream, ColourMapRegionBytes(header));
        return;
    }
    for (std::uint32_t i = 0; i < header.colorMapLength; ++i) {
        std::uint8_t entry[4];
        ReadExactly(stream, entry, entryBytes);
        image.SetPaletteEntry(header.firstEntryIndex + i, DecodeColourMapEntry(entry, entryBytes));
    }
}

void SetGreyRamp(Image& image) {
    for (std::uint32_t i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        image.SetPaletteEntry(i, {level, level, level});
    }
}

void ReadRunValue(InputStream& stream, std::uint8_t* pixel, std::uint32_t bytesPerPixel) {
    switch (bytesPerPixel) {
        case 1:
            pixel[0] = stream.ReadByte();
            break;
        case 2: {
            const std::uint16_t value = stream.ReadWord();
            pixel[0] = static_cast<std::uint8_t>(value & 0xFF);
            pixel[1] = static_cast<std::uint8_t>(value >> 8);
            break;
        }
        case 3:
            pixel[0] = stream.ReadByte();
            pixel[1] = stream.ReadByte();
            pixel[2] = stream.ReadByte();
            break;
        default: {
            const std::uint32_t value = stream.ReadDword();
            for (int i = 0; i < 4; ++i) {
                pixel[i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
            }
            break;
        }
    }
}

std::unique_ptr<Image> ReadBody(InputStream& stream, ReadProgressCallback callback,
                                void* userData) {
    std::uint8_t headerBytes[TGAHeader::kSize];
    ReadExactly(stream, headerBytes, TGAHeader::kSize);
    const TGAHeader header = TGAHeader::Decode(headerBytes);
    ValidateHeader(header);

    // Everything after the header is a sum of 16-bit fields times small
    // factors, so these sums cannot wrap in 64 bits.
    const std::uint64_t needed =
        header.idLength + ColourMapRegionBytes(header) + MinimumPixelDataBytes(header);
    if (stream.Remaining() < needed) {
        throw Exception(GFXStream::kUnexpectedEndText);
    }

    auto image = std::make_unique<Image>(DescribeImage(header));
    SkipExactly(stream, header.idLength);
    ReadColourMap(stream, header, *image);
    if (image->imageClass == ImageClass::Greyscale) {
        SetGreyRamp(*image);
    }
    if (callback) {
        callback(-1, image.get(), userData);
    }

    const auto height = static_cast<std::uint32_t>(image->height);
    const auto bytesPerPixel = static_cast<std::uint32_t>(image->bytesPerPixel);
    for (std::uint32_t stored = 0; stored < height; ++stored) {
        const std::uint32_t y = header.IsTopDown() ? height - 1 - stored : stored;
        // Rows are decoded in place: the image's own row is the row buffer.
        std::uint8_t* row = image->Row(y);
        ReadScanline(row, stream, header);
        if (header.IsRightToLeft()) {
            MirrorRow(row, header.width, bytesPerPixel);
        }
        if (callback) {
            callback(static_cast<std::int32_t>(y), row, userData);
        }
    }
    return image;
}

}  // namespace

void ReadScanline(std::uint8_t* rowBuffer, InputStream& stream, const TGAHeader& header) {
    const std::uint32_t width = header.width;
    const std::uint32_t bytesPerPixel = header.BytesPerPixel();
    if (!header.IsRunLength()) {
        ReadExactly(stream, rowBuffer, width * bytesPerPixel);
        return;
    }
    std::uint32_t done = 0;
    while (done < width) {
        const std::uint8_t packetHeader = stream.ReadByte();
        const std::uint32_t count = PacketPixelCount(packetHeader);
        if (count > width - done) {
            throw Exception(kPacketCrossesRowText);
        }
        std::uint8_t* const at = rowBuffer + std::size_t{done} * bytesPerPixel;
        if (IsRunPacket(packetHeader)) {
            ReadRunValue(stream, at, bytesPerPixel);
            Replicate(at, bytesPerPixel, count);
        } else {
            ReadExactly(stream, at, count * bytesPerPixel);
        }
        done += count;
    }
}

std::unique_ptr<Image> ReadTGA(InputStream& stream, ReadProgressCallback callback, void* userData) {
    try {
        return ReadBody(stream, callback, userData);
    } catch (const Exception& caught) {
        GFXStream::RaiseWithPrefix("ReadTGA: ", caught);
    }
}
