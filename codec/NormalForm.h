// Whether a Targa file is already in the form the writer gives it
// (uncompressed, rows bottom-up from left to right, no image ID, a 24-bit
// colour map where there is one, nothing after the pixels), and if not, why.
//
// The file is read through its streamed rows, so a check costs a window of
// the file and the row index, whatever the picture's size. A file whose
// header, packets or trailing bytes already name a difference is never
// decoded; only a file that looks normal is compared, byte for byte, with
// what the writer makes of it, and a difference found only there is named
// "header fields".
//
// The normal form is what a conversion with the same choice would write:
// the Image Descriptor is 0, or with `keepAlphaBits` the file's own
// alpha-bit count (bits 0 to 3), as the writer keeps it when asked to.
#pragma once

#include <string>
#include <vector>

#include "codec/TGAFileRows.h"
#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/InputStream.h"

namespace Codec {

class NormalFormCheck {
  public:
    // `file` stands at the header and must outlive this object. Raises what
    // ReadTGA would raise for the file ("ReadTGA: ..." texts).
    NormalFormCheck(GFXStream::ByteRangeInputStream& file, bool keepAlphaBits);

    // Whether Compare must still be called before Reasons is the answer.
    bool NeedsComparison() const { return !compared && reasons.empty(); }
    // Compares the file, read once more from its start through `again`, with
    // what the writer makes of it. Raises "WriteTGA: " and a text when the
    // file changed while it was read.
    void Compare(GFXStream::InputStream& again);

    // Why the file is not in normal form, in a fixed order ("run-length",
    // "top-down", ..., "footer"); empty when it is.
    const std::vector<std::string>& Reasons() const { return reasons; }

  private:
    void ReasonsFromHeader();
    void ReasonsFromTrailingBytes();

    GFXStream::ByteRangeInputStream& file;
    TGAFileRows rows;
    bool keepAlphaBits;
    bool compared = false;
    std::vector<std::string> reasons;
};

}  // namespace Codec
