#include "support/TgaFiles.h"

Bytes TgaHeader(std::uint8_t imageType, std::uint16_t width, std::uint16_t height,
                std::uint8_t depth, std::uint8_t descriptor, std::uint8_t colorMapType,
                std::uint16_t firstEntry, std::uint16_t mapLength, std::uint8_t entrySize,
                std::uint8_t idLength) {
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {idLength,
            colorMapType,
            imageType,
            lo(firstEntry),
            hi(firstEntry),
            lo(mapLength),
            hi(mapLength),
            entrySize,
            0,
            0,
            0,
            0,
            lo(width),
            hi(width),
            lo(height),
            hi(height),
            depth,
            descriptor};
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes MakeTrueColourTGA(int width, int height, bool topDown, bool rightToLeft,
                        std::string_view imageId) {
    const auto descriptor =
        static_cast<std::uint8_t>((topDown ? 0x20 : 0) | (rightToLeft ? 0x10 : 0));
    Bytes bytes =
        TgaHeader(2, static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 24,
                  descriptor, 0, 0, 0, 0, static_cast<std::uint8_t>(imageId.size()));
    bytes.insert(bytes.end(), imageId.begin(), imageId.end());
    for (int stored = 0; stored < height; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        for (int column = 0; column < width; ++column) {
            bytes.push_back(static_cast<std::uint8_t>(rightToLeft ? width - 1 - column : column));
            bytes.push_back(static_cast<std::uint8_t>(y));
            bytes.push_back(0x80);
        }
    }
    return bytes;
}

Bytes ExpectedPlainTGA(int width, int height) {
    return MakeTrueColourTGA(width, height, false, false);
}
