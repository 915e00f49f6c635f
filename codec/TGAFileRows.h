// A Targa file's picture read in place: its rows handed to the writer from
// the bottom row upward without the picture ever being held whole, so that
// converting a file to the normal form costs a window of the file and a row,
// whatever the picture's size.
//
// Uncompressed rows are handed out straight from the file's bytes (several
// at once when they lie bottom-up); only a right-to-left row is mirrored in
// a row buffer. Run-length rows are decoded one at a time in the order the
// writer needs them: one pass over the packet headers records where each
// stored row starts and what is left of a packet that crosses into it.
//
// A large picture's rows are read through a second stream over the same
// file (`bulk`, a buffer filled by position) instead of the first one's
// mapping, and bottom-up rows are named whole (RowsAsStored) for the output
// to copy from file to file: on some hosts the page-table work a mapping
// costs is dearer than the copy it saves. The header, image ID and colour
// map are always read from the first stream.
//
// The result is exactly what ReadTGA and then WriteTGA give: the header,
// image ID and colour map are read by ReadTGA itself, and every refusal of
// the pixel data is made, with ReadTGA's texts, before any row is handed
// out. Only the pictures too large for memory, which ReadTGA refuses with
// std::bad_alloc, are converted here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "codec/Image.h"
#include "codec/RowSource.h"
#include "codec/RunLengthRows.h"
#include "codec/TGAHeader.h"
#include "gfxstream/ByteRangeInputStream.h"

namespace Codec {

class TGAFileRows : public RowSource {
  public:
    // `file` stands at the header and must outlive this object, as must
    // `bulk`, the same bytes, when given. Raises what ReadTGA would raise for
    // the file ("ReadTGA: ..." texts). `bulkFrom`: the pixel data's size from
    // which the rows come from `bulk` (by default kBulkFrom).
    explicit TGAFileRows(GFXStream::ByteRangeInputStream& file,
                         GFXStream::ByteRangeInputStream* bulk = nullptr,
                         std::optional<std::uint64_t> bulkFrom = std::nullopt);

    // Where reading the rows by position starts to pay (tessary_bench,
    // BM_ConvertFile, path 0 against 1): in every layout it was cheaper
    // than the mapping from the smallest size measured on.
    static constexpr std::uint64_t kBulkFrom = std::uint64_t{64} << 10;

    const ImageDesc& Describe() const override { return desc; }
    PaletteColour PaletteEntry(std::uint32_t index) const override {
        return shape->GetPaletteEntry(index);
    }
    std::uint32_t Rows(std::uint32_t y, std::uint32_t most, RowBlocks& blocks) override;
    bool RowsAsStored(StoredRows& rows) override;
    void Finish() override {
        file.CheckUnchanged();
        pixels->CheckUnchanged();
    }

    const TGAHeader& Header() const { return header; }
    // Where the pixel data starts and ends in the range: what follows is
    // neither read nor written.
    std::uint64_t PixelStart() const { return pixelStart; }
    std::uint64_t PixelEnd() const { return pixelEnd; }
    // Whether a run-length packet carries on from one stored row into the
    // next, which many readers cannot follow.
    bool PacketsCrossRows() const { return packetsCrossRows; }

  private:
    // Where a stored run-length row begins, and what the packet before it
    // still owes it.
    struct RowStart {
        std::uint64_t offset = 0;
        PacketCarry carry;
    };

    void CheckUncompressedData();
    void IndexRunLengthRows();
    void MakeRow(std::uint32_t stored, std::uint8_t* row);

    GFXStream::ByteRangeInputStream& file;
    GFXStream::ByteRangeInputStream* pixels;  // where the rows are read: `file` or `bulk`
    TGAHeader header;
    std::unique_ptr<Image> shape;  // dimensions, class and palette; no rows
    ImageDesc desc;
    std::uint64_t pixelStart = 0;
    std::uint64_t pixelEnd = 0;
    bool packetsCrossRows = false;
    std::size_t rowBytes = 0;
    std::vector<RowStart> rowStarts;      // run-length files, in stored order
    std::vector<std::uint8_t> rowBuffer;  // decoded or mirrored rows, and a page to place them
    std::uint32_t bufferRows = 0;         // rows it holds
};

}  // namespace Codec
