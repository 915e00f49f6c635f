#include "PlainTGA.h"

using namespace Codec;

namespace {

unsigned Word(const std::uint8_t* data, std::size_t at) {
    return data[at] | (unsigned{data[at + 1]} << 8u);
}

PaletteColour Entry(const std::uint8_t* e, unsigned bits) {
    if (bits == 15 || bits == 16) {
        const unsigned v = e[0] | (unsigned{e[1]} << 8u);
        return {static_cast<std::uint8_t>(((v >> 10) & 31) << 3),
                static_cast<std::uint8_t>(((v >> 5) & 31) << 3),
                static_cast<std::uint8_t>((v & 31) << 3)};
    }
    return {e[2], e[1], e[0]};  // stored blue, green, red (then alpha)
}

}  // namespace

std::optional<PlainPicture> PlainReadTGA(const std::uint8_t* data, std::size_t size) {
    if (size < 18) {
        return std::nullopt;
    }
    const unsigned idLength = data[0];
    const unsigned mapType = data[1];
    const unsigned imageType = data[2];
    const unsigned firstEntry = Word(data, 3);
    const unsigned mapLength = Word(data, 5);
    const unsigned entryBits = data[7];
    const unsigned width = Word(data, 12);
    const unsigned height = Word(data, 14);
    const unsigned depth = data[16];
    const unsigned descriptor = data[17];

    PlainPicture picture;
    picture.width = width;
    picture.height = height;
    picture.imageClass = static_cast<int>(imageType & 7);
    if (picture.imageClass < 1 || picture.imageClass > 3 || imageType == 32 || imageType == 33) {
        return std::nullopt;
    }
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32) {
        return std::nullopt;
    }
    picture.bytesPerPixel = depth / 8;
    const std::size_t bpp = picture.bytesPerPixel;

    const bool decodable = entryBits == 15 || entryBits == 16 || entryBits == 24 || entryBits == 32;
    const bool mapDecoded = mapType != 0 && mapLength > 0 && decodable && picture.imageClass != 3;
    if (picture.imageClass == 1 && !mapDecoded) {
        return std::nullopt;
    }

    std::size_t at = 18 + idLength;
    const std::size_t entryBytes = (entryBits + 7) / 8;
    const std::size_t mapBytes = mapType != 0 ? mapLength * entryBytes : 0;
    if (at + mapBytes > size) {
        return std::nullopt;
    }
    if (picture.imageClass == 3) {
        for (unsigned i = 0; i < 256; ++i) {
            const auto level = static_cast<std::uint8_t>(i);
            picture.palette.push_back({level, level, level});
        }
    } else if (mapDecoded) {
        picture.palette.resize(std::min(firstEntry + mapLength, 65535u));
        for (unsigned i = 0; i < mapLength; ++i) {
            if (firstEntry + i < picture.palette.size()) {
                picture.palette[firstEntry + i] = Entry(data + at + i * entryBytes, entryBits);
            }
        }
    }
    at += mapBytes;

    // Every pixel in file order, then placed.
    const std::size_t count = std::size_t{width} * height;
    std::vector<std::uint8_t> stored;
    if (imageType <= 3) {
        if (size - at < count * bpp) {
            return std::nullopt;
        }
        stored.assign(data + at, data + at + count * bpp);
    } else {
        while (stored.size() < count * bpp) {
            if (at >= size) {
                return std::nullopt;
            }
            const unsigned packet = data[at++];
            const std::size_t n = (packet & 0x7F) + 1u;
            if (stored.size() / bpp + n > count) {
                return std::nullopt;  // past the last pixel
            }
            const std::size_t valueBytes = (packet & 0x80) ? bpp : n * bpp;
            if (size - at < valueBytes) {
                return std::nullopt;
            }
            for (std::size_t i = 0; i < n; ++i) {
                const std::size_t from = (packet & 0x80) ? at : at + i * bpp;
                stored.insert(stored.end(), data + from, data + from + bpp);
            }
            at += valueBytes;
        }
    }

    picture.pixels.resize(count * bpp);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t row = i / width;
        const std::size_t column = i % width;
        const std::size_t x = (descriptor & 0x10) ? width - 1 - column : column;
        const std::size_t y = (descriptor & 0x20) ? height - 1 - row : row;
        for (std::size_t k = 0; k < bpp; ++k) {
            picture.pixels[(y * width + x) * bpp + k] = stored[i * bpp + k];
        }
    }
    return picture;
}
