#include "codec/TGAFileRows.h"

#include <algorithm>
#include <cstring>

#include "codec/ReadTGA.h"
#include "codec/RowMirror.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/PageOffset.h"

namespace Codec {

using GFXStream::Exception;

TGAFileRows::TGAFileRows(GFXStream::ByteRangeInputStream& source,
                         GFXStream::ByteRangeInputStream* bulk,
                         std::optional<std::uint64_t> bulkFrom)
    : file(source), pixels(&source) {
    // The header, image ID and colour map are read by ReadTGA itself, from a
    // copy whose header declares no rows: the same checks, texts and palette,
    // and no pixel buffer.
    const std::uint64_t start = file.Offset();
    std::uint64_t prologueBytes = std::min<std::uint64_t>(file.Remaining(), TGAHeader::kSize);
    if (prologueBytes == TGAHeader::kSize) {
        std::uint8_t bytes[TGAHeader::kSize];
        std::memcpy(bytes, file.Span(start, TGAHeader::kSize), TGAHeader::kSize);
        header = TGAHeader::Decode(bytes);
        prologueBytes = std::min(file.Remaining(),
                                 prologueBytes + header.idLength + ColourMapOf(header).regionBytes);
    }
    // At most 18 + 255 + 65535 x 32 bytes.
    std::vector<std::uint8_t> copy(static_cast<std::size_t>(prologueBytes));
    file.Seek(start);
    file.Read(copy.data(), static_cast<std::uint32_t>(copy.size()));
    if (copy.size() >= TGAHeader::kSize) {
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
    const std::uint64_t dataBytes = header.IsRunLength() ? file.RangeSize() - pixelStart
                                                         : std::uint64_t{header.height} * rowBytes;
    if (bulk != nullptr && dataBytes >= bulkFrom.value_or(kBulkFrom)) {
        pixels = bulk;
    }
    try {
        // Run-length data shorter than the fewest bytes the picture needs
        // runs out during the walk, with the text the reader's early check
        // gives it.
        if (header.IsRunLength()) {
            IndexRunLengthRows();
        } else {
            CheckUncompressedData();
        }
    } catch (const Exception& caught) {
        GFXStream::RaiseWithPrefix("ReadTGA: ", caught);
    }
    if ((header.IsRunLength() || header.IsRightToLeft()) && rowBytes != 0) {
        // Rows made here go out a span at a time, like rows taken straight
        // from the file, rather than each through the output's ring.
        bufferRows = static_cast<std::uint32_t>(std::max<std::size_t>(
            1, std::min<std::size_t>(pixels->PreferredSpan() / rowBytes, header.height)));
        rowBuffer.resize(bufferRows * rowBytes + GFXStream::kPageSize);
    }
}

void TGAFileRows::CheckUncompressedData() {
    pixelEnd = pixelStart + std::uint64_t{header.height} * rowBytes;
    if (pixels->RangeSize() < pixelEnd) {
        throw Exception(GFXStream::kUnexpectedEndText);
    }
}

// Walks the packets once, in file order, recording where each stored row
// starts: each row takes the next `width` pixels of the packet stream, and a
// packet may carry on into the next row but not past the last pixel.
void TGAFileRows::IndexRunLengthRows() {
    GFXStream::ByteRangeInputStream& data = *pixels;
    rowStarts.resize(header.height);
    data.Seek(pixelStart);
    PacketCarry carry;
    for (RowStart& row : rowStarts) {
        if (carry.left != 0) {
            packetsCrossRows = true;
        }
        row = {data.Offset(), carry};
        ReadRunLengthRow(nullptr, data, header.width, header.BytesPerPixel(), carry);
    }
    if (carry.left != 0) {
        throw Exception(kPacketPastImageEndText);
    }
    pixelEnd = data.Offset();
}

std::uint32_t TGAFileRows::Rows(std::uint32_t y, std::uint32_t most, RowBlocks& blocks) {
    const std::uint32_t stored = header.IsTopDown() ? header.height - 1u - y : y;
    blocks.count = 1;
    if (header.IsRunLength() || header.IsRightToLeft()) {
        const std::uint32_t rows = std::min(most, bufferRows);
        // At the output's own offset within a page (see RowBlocks::at).
        std::uint8_t* const made = GFXStream::AtPageOffset(rowBuffer.data(), blocks.at);
        for (std::uint32_t i = 0; i < rows; ++i) {
            MakeRow(header.IsTopDown() ? stored - i : stored + i, made + std::size_t{i} * rowBytes);
        }
        blocks.block[0] = {made, rows * rowBytes};
        return rows;
    }
    // Uncompressed rows come straight from the file: bottom-up ones as one
    // block, top-down ones as one block each, in reverse order, from one
    // stretch of the file in view.
    const auto inView = static_cast<std::uint32_t>(pixels->PreferredSpan() / rowBytes);
    std::uint32_t rows = std::max<std::uint32_t>(1, std::min(most, inView));
    if (header.IsTopDown()) {
        rows = std::min(rows, RowBlocks::kMost);
    }
    const std::uint32_t first = header.IsTopDown() ? stored + 1 - rows : stored;
    const std::uint8_t* bytes =
        pixels->Span(pixelStart + std::uint64_t{first} * rowBytes, rows * rowBytes);
    if (!header.IsTopDown()) {
        blocks.block[0] = {bytes, rows * rowBytes};
        return rows;
    }
    for (std::uint32_t i = 0; i < rows; ++i) {
        blocks.block[i] = {bytes + std::size_t{rows - 1 - i} * rowBytes, rowBytes};
    }
    blocks.count = rows;
    return rows;
}

bool TGAFileRows::RowsAsStored(StoredRows& rows) {
    if (header.IsRunLength() || header.IsTopDown() || header.IsRightToLeft()) {
        return false;
    }
    rows = {pixels, pixelStart, std::uint64_t{header.height} * rowBytes};
    return true;
}

// Decodes or mirrors one stored row into `row`.
void TGAFileRows::MakeRow(std::uint32_t stored, std::uint8_t* row) {
    const std::uint32_t bytesPerPixel = header.BytesPerPixel();
    if (header.IsRunLength()) {
        const RowStart& start = rowStarts[stored];
        PacketCarry carry = start.carry;
        pixels->Seek(start.offset);
        ReadRunLengthRow(row, *pixels, header.width, bytesPerPixel, carry);
    } else {
        std::memcpy(row, pixels->Span(pixelStart + std::uint64_t{stored} * rowBytes, rowBytes),
                    rowBytes);
    }
    if (header.IsRightToLeft()) {
        MirrorRow(row, header.width, bytesPerPixel);
    }
}

}  // namespace Codec
