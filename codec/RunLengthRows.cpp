#include "codec/RunLengthRows.h"

#include <algorithm>
#include <cstring>

#include "codec/TGAHeader.h"
#include "gfxstream/Exception.h"

namespace Codec {

using GFXStream::InputStream;

namespace {

void ReadExactly(InputStream& stream, std::uint8_t* buffer, std::uint32_t n) {
    if (stream.Read(buffer, n) != n) {
        throw GFXStream::Exception(GFXStream::kUnexpectedEndText);
    }
}

void SkipExactly(InputStream& stream, std::uint32_t n) {
    if (stream.Skip(n) != n) {
        throw GFXStream::Exception(GFXStream::kUnexpectedEndText);
    }
}

// Run-length packet header: bit 7 set for a run, the low 7 bits the pixel
// count minus one.
bool IsRunPacket(std::uint8_t packetHeader) {
    return (packetHeader & 0x80) != 0;
}
std::uint32_t PacketPixelCount(std::uint8_t packetHeader) {
    return (packetHeader & 0x7Fu) + 1;
}

// Copies the first pixel of `run` over the rest of it. Runs are mostly tens
// to hundreds of pixels, where a string copy's start-up cost dominates, so
// the pixel is repeated into one 24-byte pattern (a whole number of 1-, 2-,
// 3- and 4-byte pixels, and of 8-byte words) and stored a word at a time.
// Nothing is stored beyond the run.
template <std::uint32_t B>
void Replicate(std::uint8_t* run, std::size_t count) {
    if constexpr (B == 1) {
        std::memset(run + 1, run[0], count - 1);
    } else {
        const std::size_t total = B * count;
        std::uint8_t pattern[24];
        for (std::size_t i = 0; i < sizeof pattern; i += B) {
            std::memcpy(pattern + i, run, B);
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
}

// The walk over the packets for pixels of B bytes, so that every copy has
// a size known when compiling. A run's value is its B bytes as stored, the
// byte order of uncompressed pixels. Without `row` the pixels are only
// stepped over: raw bytes are skipped and a run's value is kept in `carry`,
// so that a row can later be decoded from where it starts.
template <std::uint32_t B>
void WalkRow(std::uint8_t* row, InputStream& stream, std::uint32_t width, PacketCarry& carry) {
    std::uint32_t done = 0;
    if (carry.left != 0 && width != 0) {
        // The packet the previous row began: its run value was kept, its
        // raw pixels are the next bytes of the stream.
        done = std::min(carry.left, width);
        if (carry.run) {
            if (row != nullptr) {
                std::memcpy(row, carry.pixel, B);
                Replicate<B>(row, done);
            }
        } else if (row != nullptr) {
            ReadExactly(stream, row, done * B);
        } else {
            SkipExactly(stream, done * B);
        }
        carry.left -= done;
    }
    while (done < width) {
        const std::uint8_t packetHeader = stream.ReadByte();
        const std::uint32_t count = PacketPixelCount(packetHeader);
        const std::uint32_t here = std::min(count, width - done);
        carry.run = IsRunPacket(packetHeader);
        if (row == nullptr) {
            if (carry.run) {
                ReadExactly(stream, carry.pixel, B);
            } else {
                SkipExactly(stream, here * B);
            }
        } else if (carry.run) {
            std::uint8_t* const at = row + std::size_t{done} * B;
            if constexpr (B == 1) {
                at[0] = stream.ReadByte();
            } else {
                ReadExactly(stream, at, B);
            }
            Replicate<B>(at, here);
            if (here != count) {
                std::memcpy(carry.pixel, at, B);
            }
        } else {
            ReadExactly(stream, row + std::size_t{done} * B, here * B);
        }
        carry.left = count - here;
        done += here;
    }
}

}  // namespace

void ReadRunLengthRow(std::uint8_t* row, InputStream& stream, std::uint32_t width,
                      std::uint32_t bytesPerPixel, PacketCarry& carry) {
    switch (bytesPerPixel) {
        case 1:
            WalkRow<1>(row, stream, width, carry);
            break;
        case 2:
            WalkRow<2>(row, stream, width, carry);
            break;
        case 3:
            WalkRow<3>(row, stream, width, carry);
            break;
        default:
            WalkRow<4>(row, stream, width, carry);
            break;
    }
}

}  // namespace Codec
