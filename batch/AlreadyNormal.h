// Whether a file is already in the form the batch writes, decided from its
// header and colour map alone, so that a rerun over a repaired tree costs
// little more than reading the headers.
//
// The writer is asked what it would write for the picture the file
// describes, without being handed its pixels: when the header and colour map
// it makes are the file's own and its output is as long as the file, the
// file's rows are stored uncompressed and bottom-up from left to right, so
// the pixels it would write are the file's own bytes too.
#pragma once

#include <cstdint>

#include "gfxstream/MappedFileInputStream.h"

namespace Batch {

// `input` is open at the file's start, and is left there. `alphaBits` is
// what the writer would declare. Answers false for any file it cannot read,
// leaving that for the conversion to report.
bool AlreadyInNormalForm(GFXStream::MappedFileInputStream& input, std::uint8_t alphaBits) noexcept;

}  // namespace Batch
