// Whether a Targa file is already in the form the writer gives it
// (uncompressed, rows bottom-up from left to right, no image ID, a 24-bit
// colour map where there is one, nothing after the pixels), and if not, why.
//
// The check has two phases, so that a batch that only wants to skip normal
// files and a check that names every difference can never disagree:
//
//  1. The header phase (the constructor) reads the header, and when that
//     names no difference, the image ID and colour map, never a pixel or a
//     run-length packet. The writer is asked what it would write for the
//     picture without being handed its pixels: when what it puts before the
//     pixels is the file's own and its output is as long as the file, the
//     file's rows are stored uncompressed and bottom-up from left to right,
//     so the pixels it would write are the file's own bytes too. Its answer,
//     HeaderIsNormal, is the whole answer for a batch's skip.
//  2. The second phase reads the rest: for a file found not normal, it
//     names every reason (NameReasons); for one found normal, it compares
//     the whole file byte for byte with what the writer makes of it
//     (Compare), which catches a file changed while it was read.
//
// A difference that no part of the layout names is "header fields".
//
// The normal form is what a conversion with the same choice would write:
// the Image Descriptor is 0, or with `keepAlphaBits` the file's own
// alpha-bit count (bits 0 to 3), as the writer keeps it when asked to.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/TGAFileRows.h"
#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/InputStream.h"

namespace Codec {

class NormalFormCheck {
  public:
    // The header phase. `file` stands at the header and must outlive this
    // object; it is left anywhere. Raises what ReadTGA would raise for the
    // header, image ID and colour map ("ReadTGA: ..." texts) when it reads
    // them.
    NormalFormCheck(GFXStream::ByteRangeInputStream& file, bool keepAlphaBits);

    // Whether the header phase found the file in normal form.
    bool HeaderIsNormal() const { return headerNormal; }

    // The second phase for a file the header phase found not normal: reads
    // the whole file and names every reason. Raises what ReadTGA would raise
    // for the file.
    void NameReasons();
    // The second phase for a file the header phase found normal: compares
    // the file, read once more from its start through `again`, with what the
    // writer makes of it. Raises "WriteTGA: " and a text when the file
    // changed while it was read.
    void Compare(GFXStream::InputStream& again);

    // Why the file is not in normal form, in a fixed order ("run-length",
    // "top-down", ..., "footer"); after the second phase, empty when it is.
    const std::vector<std::string>& Reasons() const { return reasons; }

  private:
    bool ReasonsFromHeaderAlone();
    void ReasonsFromColourMap();
    void ReasonsFromTrailingBytes();
    bool WriterLeadsWithFileBytes();
    // The alpha-bit count the writer declares.
    std::uint8_t WrittenAlphaBits() const { return keepAlphaBits ? header.AlphaBits() : 0; }

    GFXStream::ByteRangeInputStream& file;
    std::uint64_t start;
    TGAHeader header;
    std::optional<TGAFileRows> rows;  // once the header names no difference
    bool keepAlphaBits;
    bool headerNormal = false;
    std::vector<std::string> reasons;
};

}  // namespace Codec
