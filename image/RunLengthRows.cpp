#include "image/RunLengthRows.h"

#include <algorithm>
#include <cstring>

#include "gfxstream/Exception.h"
#include "image/TGAHeader.h"

using GFXStream::InputStream;

namespace {

void ReadExactly(InputStream& stream, std::uint8_t* buffer, std::uint32_t n) {
    if (stream.Read(buffer, n) != n) {
        throw GFXStream::Exception(GFXStream::kUnexpectedEndText);
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

// A run's value, in the byte order of uncompressed pixels.
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

}  // namespace

void ReadRunLengthRow(std::uint8_t* row, InputStream& stream, std::uint32_t width,
                      std::uint32_t bytesPerPixel, PacketCarry& carry) {
    std::uint32_t done = 0;
    if (carry.left != 0 && width != 0) {
        // The packet the previous row began: its run value was kept, its
        // raw pixels are the next bytes of the stream.
        done = std::min(carry.left, width);
        if (carry.run) {
            std::memcpy(row, carry.pixel, bytesPerPixel);
            Replicate(row, bytesPerPixel, done);
        } else {
            ReadExactly(stream, row, done * bytesPerPixel);
        }
        carry.left -= done;
    }
    while (done < width) {
        const std::uint8_t packetHeader = stream.ReadByte();
        const std::uint32_t count = PacketPixelCount(packetHeader);
        const std::uint32_t here = std::min(count, width - done);
        std::uint8_t* const at = row + std::size_t{done} * bytesPerPixel;
        carry.run = IsRunPacket(packetHeader);
        if (carry.run) {
            ReadRunValue(stream, at, bytesPerPixel);
            Replicate(at, bytesPerPixel, here);
            if (here != count) {
                std::memcpy(carry.pixel, at, bytesPerPixel);
            }
        } else {
            ReadExactly(stream, at, here * bytesPerPixel);
        }
        carry.left = count - here;
        done += here;
    }
}
