#include "codec/ReadTGA.h"

#include <algorithm>

#include "codec/CheckedSize.h"
#include "codec/RowMirror.h"
#include "codec/RunLengthRows.h"
#include "gfxstream/Exception.h"

namespace Codec {

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

// The fewest bytes that can hold the image data: every pixel byte when
// uncompressed; with run-length packets, which may run on from one row into
// the next, one run packet per 128 pixels of the whole image.
std::uint64_t MinimumPixelDataBytes(const TGAHeader& header) {
    const std::uint64_t bytesPerPixel = header.BytesPerPixel();
    const std::uint64_t pixels = std::uint64_t{header.width} * header.height;
    if (!header.IsRunLength()) {
        return pixels * bytesPerPixel;
    }
    return (pixels + 127) / 128 * (1 + bytesPerPixel);
}

void ValidateHeader(const TGAHeader& header) {
    if (!header.HasAcceptedClass()) {
        throw Exception(kUnsupportedImageTypeText);
    }
    if (!header.HasAcceptedDepth()) {
        throw Exception(kUnsupportedBitDepthText);
    }
    if (header.ImageClassBits() == 1 && !ColourMapOf(header).decoded) {
        if (!header.HasColourMap() || header.colorMapLength == 0) {
            throw Exception(kMissingColourMapText);
        }
        throw Exception(kUnsupportedColourMapText);
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
    } else if (ColourMapOf(header).decoded) {
        // No colour map can declare more than 65535 entries, and the writer
        // refuses a larger palette; an entry stored past that is dropped.
        desc.paletteSize = std::min(header.firstEntryIndex + header.colorMapLength, 0xFFFF);
    }
    return desc;
}

void ReadColourMap(InputStream& stream, const TGAHeader& header, Image& image) {
    const ColourMapLayout layout = ColourMapOf(header);
    if (!layout.decoded) {
        SkipExactly(stream, layout.regionBytes);
        return;
    }
    for (std::uint32_t i = 0; i < header.colorMapLength; ++i) {
        std::uint8_t entry[4];
        ReadExactly(stream, entry, layout.entryBytes);
        image.SetPaletteEntry(header.firstEntryIndex + i,
                              DecodeColourMapEntry(entry, layout.entryBytes));
    }
}

void SetGreyRamp(Image& image) {
    for (std::uint32_t i = 0; i < 256; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        image.SetPaletteEntry(i, {level, level, level});
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
        header.idLength + ColourMapOf(header).regionBytes + MinimumPixelDataBytes(header);
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
    PacketCarry carry;
    for (std::uint32_t stored = 0; stored < height; ++stored) {
        const std::uint32_t y = header.IsTopDown() ? height - 1 - stored : stored;
        // Rows are decoded in place: the image's own row is the row buffer.
        std::uint8_t* row = image->Row(y);
        if (header.IsRunLength()) {
            ReadRunLengthRow(row, stream, header.width, bytesPerPixel, carry);
            // Refused before anyone is shown the last row.
            if (stored + 1 == height && carry.left != 0) {
                throw Exception(kPacketPastImageEndText);
            }
        } else {
            ReadExactly(stream, row, header.width * bytesPerPixel);
        }
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

std::unique_ptr<Image> ReadTGA(InputStream& stream, ReadProgressCallback callback, void* userData) {
    try {
        return ReadBody(stream, callback, userData);
    } catch (const Exception& caught) {
        GFXStream::RaiseWithPrefix("ReadTGA: ", caught);
    }
}

}  // namespace Codec
