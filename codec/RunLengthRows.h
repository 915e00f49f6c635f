// Run-length pixel data read row by row: the one walk over the packets, for
// decoding, for indexing where each row starts and for checking a file. The
// packets are one stream over all pixels in file order, and a packet may
// carry on from the end of one stored row into the next; what it still owes
// is kept between rows.
#pragma once

#include <cstdint>

#include "gfxstream/InputStream.h"

namespace Codec {

// What is left of the packet that the previous row did not finish.
struct PacketCarry {
    std::uint32_t left = 0;      // pixels the current packet still owes (0..127)
    bool run = false;            // a run repeats `pixel`; a raw packet reads on
    std::uint8_t pixel[4] = {};  // the run's value (bytesPerPixel bytes used)
};

// Fills `row` with the next `width` pixels of the packet stream, starting with
// what `carry` owes, and leaves in `carry` what the last packet still owes.
// Nothing is stored outside the row's width x bytesPerPixel bytes. With a
// null `row` the pixels are stepped over instead: the stream ends where it
// would after decoding, and `carry` holds the run value a row decoded from
// there needs. Raises the stream's "Unexpected end of input" when the data is
// cut short.
void ReadRunLengthRow(std::uint8_t* row, GFXStream::InputStream& stream, std::uint32_t width,
                      std::uint32_t bytesPerPixel, PacketCarry& carry);

}  // namespace Codec
