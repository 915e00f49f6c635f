#include "image/TGAFileRows.h"

#include <algorithm>
#include <cstring>

#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "image/ReadTGA.h"
#include "image/RowMirror.h"

using GFXStream::Exception;

namespace {

// The most the header, image ID and colour map can take: 18 bytes, 255 of
// image ID and 65535 entries of at most 4 bytes.
constexpr std::size_t kMaxPrologueBytes = TGAHeader::kSize + 255 + 65535 * 4;

void SkipExactly(GFXStream::ByteRangeInputStream& file, std::uint64_t n) {
    if (file.Remaining() < n) {
        throw Exception(GFXStream::kUnexpectedEndText);
    }
    file.Seek(file.Offset() + n);
}

}  // namespace

// Stand-in for the shared decoder (same contract).
void ReadRunLengthRow(std::uint8_t* row, GFXStream::InputStream& stream, std::uint32_t width,
                      std::uint32_t bytesPerPixel, PacketCarry& carry) {
    std::uint32_t done = 0;
    while (done < width) {
        if (carry.left == 0) {
            const std::uint8_t h = stream.ReadByte();
            carry.left = PacketPixelCount(h);
            carry.run = IsRunPacket(h);
            if (carry.run && stream.Read(carry.pixel, bytesPerPixel) != bytesPerPixel) {
                throw Exception(GFXStream::kUnexpectedEndText);
            }
        }
        const std::uint32_t take = std::min(carry.left, width - done);
        std::uint8_t* at = row + std::size_t{done} * bytesPerPixel;
        if (carry.run) {
            for (std::uint32_t i = 0; i < take; ++i) {
                std::memcpy(at + std::size_t{i} * bytesPerPixel, carry.pixel, bytesPerPixel);
            }
        } else if (stream.Read(at, take * bytesPerPixel) != take * bytesPerPixel) {
            throw Exception(GFXStream::kUnexpectedEndText);
        }
        carry.left -= take;
        done += take;
    }
}

TGAFileRows::TGAFileRows(GFXStream::ByteRangeInputStream& source) : file(source) {
    // The header, image ID and colour map are read by ReadTGA itself, from a
    // copy whose header declares no rows: the same checks, texts and palette,
    // and no pixel buffer.
    const auto prologueBytes =
        static_cast<std::size_t>(std::min<std::uint64_t>(file.Remaining(), kMaxPrologueBytes));
    const std::uint64_t start = file.Offset();
    const std::uint8_t* prologue = file.Span(start, prologueBytes);
    std::vector<std::uint8_t> copy(prologue, prologue + prologueBytes);
    if (copy.size() >= TGAHeader::kSize) {
        std::uint8_t bytes[TGAHeader::kSize];
        std::memcpy(bytes, copy.data(), TGAHeader::kSize);
        header = TGAHeader::Decode(bytes);
        copy[14] = copy[15] = 0;  // Image Height
    }
    GFXStream::MemoryInputStream prologueStream(copy.data(), copy.size());
    shape = ReadTGA(prologueStream, nullptr, nullptr);
    pixelStart = start + prologueStream.Offset();

    desc.width = shape->width;
    desc.height = header.height;
    desc.xOrigin = shape->xOrigin;
    desc.yOrigin = shape->yOrigin;
    desc.fill = shape->fill;
    desc.bitsPerPixel = shape->bitsPerPixel;
    desc.paletteSize = shape->paletteSize;
    desc.imageClass = shape->imageClass;
    rowBytes = RowBytesOf(desc);
    try {
        CheckMinimumData();
        if (header.IsRunLength()) {
            IndexRunLengthRows();
        }
    } catch (const Exception& caught) {
        GFXStream::RaiseWithPrefix("ReadTGA: ", caught);
    }
    if (header.IsRunLength() || header.IsRightToLeft()) {
        rowBuffer.resize(rowBytes);
    }
}

// The reader refuses, before decoding anything, pixel data shorter than the
// fewest bytes that can hold the picture; so must this.
void TGAFileRows::CheckMinimumData() const {
    std::uint64_t minimum = std::uint64_t{header.height} * rowBytes;
    if (header.IsRunLength()) {
        const std::uint64_t packetsPerRow = (std::uint64_t{header.width} + 127) / 128;
        minimum = std::uint64_t{header.height} * packetsPerRow * (1 + header.BytesPerPixel());
    }
    if (file.RangeSize() - pixelStart < minimum) {
        throw Exception(GFXStream::kUnexpectedEndText);
    }
}

// Walks the packet headers once, in file order, as the row decoder would:
// each stored row takes the next `width` pixels of the packet stream.
void TGAFileRows::IndexRunLengthRows() {
    const std::uint32_t width = header.width;
    const std::uint32_t bytesPerPixel = header.BytesPerPixel();
    rowStarts.resize(header.height);
    file.Seek(pixelStart);
    PacketCarry carry;
    for (RowStart& row : rowStarts) {
        row = {file.Offset(), carry};
        std::uint32_t left = width;
        while (left > 0) {
            if (carry.left == 0) {
                const std::uint8_t packetHeader = file.ReadByte();
                carry.left = PacketPixelCount(packetHeader);
                carry.run = IsRunPacket(packetHeader);
                if (carry.left > left) {
                    throw Exception(kPacketCrossesRowText);
                }
                if (carry.run && file.Read(carry.pixel, bytesPerPixel) != bytesPerPixel) {
                    throw Exception(GFXStream::kUnexpectedEndText);
                }
            }
            const std::uint32_t take = std::min(carry.left, left);
            if (!carry.run) {
                SkipExactly(file, std::uint64_t{take} * bytesPerPixel);
            }
            carry.left -= take;
            left -= take;
        }
    }
}

std::span<const std::uint8_t> TGAFileRows::Rows(std::uint32_t y, std::uint32_t most) {
    const std::uint32_t height = header.height;
    const std::uint32_t stored = header.IsTopDown() ? height - 1 - y : y;
    const std::uint32_t bytesPerPixel = header.BytesPerPixel();
    if (header.IsRunLength()) {
        const RowStart& start = rowStarts[stored];
        PacketCarry carry = start.carry;
        file.Seek(start.offset);
        ReadRunLengthRow(rowBuffer.data(), file, header.width, bytesPerPixel, carry);
    } else {
        // Bottom-up rows follow each other in the file as in the output.
        const std::size_t rows =
            header.IsTopDown() || header.IsRightToLeft()
                ? 1
                : std::max<std::size_t>(
                      1, std::min<std::size_t>(
                             most, GFXStream::ByteRangeInputStream::kMaxSpan / rowBytes));
        const std::uint8_t* bytes =
            file.Span(pixelStart + std::uint64_t{stored} * rowBytes, rows * rowBytes);
        if (!header.IsRightToLeft()) {
            return {bytes, rows * rowBytes};
        }
        std::memcpy(rowBuffer.data(), bytes, rowBytes);
    }
    if (header.IsRightToLeft()) {
        MirrorRow(rowBuffer.data(), header.width, bytesPerPixel);
    }
    return {rowBuffer.data(), rowBytes};
}
