#include "codec/TGAHeader.h"

namespace Codec {

namespace {
std::uint16_t Word(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
void PutWord(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}
}  // namespace

TGAHeader TGAHeader::Decode(const std::uint8_t (&bytes)[kSize]) {
    TGAHeader header;
    header.idLength = bytes[0];
    header.colorMapType = bytes[1];
    header.imageType = bytes[2];
    header.firstEntryIndex = Word(bytes + 3);
    header.colorMapLength = Word(bytes + 5);
    header.colorMapEntrySize = bytes[7];
    header.xOrigin = Word(bytes + 8);
    header.yOrigin = Word(bytes + 10);
    header.width = Word(bytes + 12);
    header.height = Word(bytes + 14);
    header.pixelDepth = bytes[16];
    header.imageDescriptor = bytes[17];
    return header;
}

void TGAHeader::Encode(std::uint8_t (&bytes)[kSize]) const {
    bytes[0] = idLength;
    bytes[1] = colorMapType;
    bytes[2] = imageType;
    PutWord(bytes + 3, firstEntryIndex);
    PutWord(bytes + 5, colorMapLength);
    bytes[7] = colorMapEntrySize;
    PutWord(bytes + 8, xOrigin);
    PutWord(bytes + 10, yOrigin);
    PutWord(bytes + 12, width);
    PutWord(bytes + 14, height);
    bytes[16] = pixelDepth;
    bytes[17] = imageDescriptor;
}

bool TGAHeader::HasAcceptedClass() const {
    // 32 and 33 are Huffman/delta/quadtree compressions, which are not
    // run-length packets even though their low bits name a class.
    if (imageType == 32 || imageType == 33) {
        return false;
    }
    const int imageClass = ImageClassBits();
    return imageClass >= 1 && imageClass <= 3;
}

bool TGAHeader::HasAcceptedDepth() const {
    return pixelDepth >= 8 && pixelDepth <= 32 && pixelDepth % 8 == 0;
}

std::uint32_t TGAHeader::ColourMapEntryBytes() const {
    switch (colorMapEntrySize) {
        case 15:
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

ColourMapLayout ColourMapOf(const TGAHeader& header) {
    ColourMapLayout layout;
    if (!header.HasColourMap()) {
        return layout;
    }
    // An entry size this program cannot decode still occupies whole bytes.
    layout.regionBytes =
        std::uint64_t{header.colorMapLength} * ((header.colorMapEntrySize + 7u) / 8u);
    layout.entryBytes = header.ColourMapEntryBytes();
    layout.decoded =
        header.colorMapLength != 0 && layout.entryBytes != 0 && header.ImageClassBits() != 3;
    if (!layout.decoded) {
        layout.entryBytes = 0;
    }
    return layout;
}

PaletteColour DecodeColourMapEntry(const std::uint8_t* entry, std::uint32_t entryBytes) {
    if (entryBytes == 2) {
        const unsigned v = Word(entry);
        return {static_cast<std::uint8_t>(((v >> 10) & 0x1F) << 3),
                static_cast<std::uint8_t>(((v >> 5) & 0x1F) << 3),
                static_cast<std::uint8_t>((v & 0x1F) << 3)};
    }
    return {entry[2], entry[1], entry[0]};
}

}  // namespace Codec
