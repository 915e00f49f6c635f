#include "codec/NormalForm.h"

#include <cstring>

#include "codec/WriteTGA.h"
#include "gfxstream/ComparingOutputStream.h"

namespace Codec {

namespace {

constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes
// A footer is the 8 bytes of two offsets, then the signature.
constexpr std::uint64_t kFooterBytes = 8 + sizeof kFooterSignature;

}  // namespace

NormalFormCheck::NormalFormCheck(GFXStream::ByteRangeInputStream& source, bool keepAlpha)
    : file(source), rows(source), keepAlphaBits(keepAlpha) {
    ReasonsFromHeader();
    ReasonsFromTrailingBytes();
}

void NormalFormCheck::ReasonsFromHeader() {
    const TGAHeader& header = rows.Header();
    if (header.IsRunLength()) {
        reasons.emplace_back("run-length");
        if (rows.PacketsCrossRows()) {
            reasons.emplace_back("run-length packets cross rows");
        }
    }
    if (header.IsTopDown()) {
        reasons.emplace_back("top-down");
    }
    if (header.IsRightToLeft()) {
        reasons.emplace_back("right-to-left");
    }
    const std::uint8_t written = keepAlphaBits ? header.AlphaBits() : 0;
    if ((header.imageDescriptor & ~0x30) != written) {
        reasons.emplace_back("attribute bits in the image descriptor");
    }
    if (header.idLength != 0) {
        reasons.emplace_back("image ID");
    }
    if (header.ImageClassBits() == 3 && header.pixelDepth == 8) {
        reasons.emplace_back("greyscale");
    }
    if (!header.HasColourMap()) {
        return;
    }
    if (!WritesColourMap(rows.Describe())) {
        reasons.emplace_back("unused colour map");
    } else if (ColourMapOf(header).decoded) {
        // The stored entries are the palette the writer writes again.
        if (header.colorMapEntrySize != 24) {
            reasons.push_back(std::to_string(header.colorMapEntrySize) + "-bit colour map");
        }
        if (header.firstEntryIndex != 0) {
            reasons.push_back("colour map starting at entry " +
                              std::to_string(header.firstEntryIndex));
        }
    }
}

void NormalFormCheck::ReasonsFromTrailingBytes() {
    const std::uint64_t extra = file.RangeSize() - rows.PixelEnd();
    if (extra == 0) {
        return;
    }
    const std::uint8_t* last =
        extra >= kFooterBytes
            ? file.Span(file.RangeSize() - sizeof kFooterSignature, sizeof kFooterSignature)
            : nullptr;
    if (last != nullptr && std::memcmp(last, kFooterSignature, sizeof kFooterSignature) == 0) {
        reasons.emplace_back("footer");
    } else {
        reasons.push_back(std::to_string(extra) + " bytes after the pixels");
    }
}

void NormalFormCheck::Compare(GFXStream::InputStream& again) {
    ComparingOutputStream rewritten(again);
    WriteTGA(rewritten, rows, false, keepAlphaBits ? rows.Header().AlphaBits() : 0);
    compared = true;
    if (!rewritten.SameAsOriginal()) {
        reasons.emplace_back("header fields");
    }
}

}  // namespace Codec
