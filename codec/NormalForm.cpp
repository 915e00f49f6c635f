#include "codec/NormalForm.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "codec/RowSource.h"
#include "codec/WriteTGA.h"
#include "gfxstream/BlockOutputStream.h"
#include "gfxstream/ComparingOutputStream.h"

namespace Codec {

namespace {

constexpr char kFooterSignature[] = "TRUEVISION-XFILE.";  // and its NUL: 18 bytes
// A footer is the 8 bytes of two offsets, then the signature.
constexpr std::uint64_t kFooterBytes = 8 + sizeof kFooterSignature;

// A file's picture without its pixels: its description and palette, and
// rows of zeros, so that the writer's output has the right length without
// a pixel being read.
class ShapeRows : public RowSource {
  public:
    explicit ShapeRows(const RowSource& source)
        : file(source), zeros(RowBytesOf(source.Describe())) {}

    const ImageDesc& Describe() const override { return file.Describe(); }
    PaletteColour PaletteEntry(std::uint32_t index) const override {
        return file.PaletteEntry(index);
    }
    std::uint32_t Rows(std::uint32_t, std::uint32_t most, RowBlocks& blocks) override {
        const std::uint32_t rows = std::min(most, RowBlocks::kMost);
        for (std::uint32_t i = 0; i < rows; ++i) {
            blocks.block[i] = std::span<const std::uint8_t>(zeros);
        }
        blocks.count = rows;
        return rows;
    }

  private:
    const RowSource& file;
    std::vector<std::uint8_t> zeros;
};

// Compares what the writer puts before the pixels with the file's bytes
// there, and counts everything it writes.
class LeadingComparison : public GFXStream::BlockOutputStream {
  public:
    explicit LeadingComparison(std::span<const std::uint8_t> fileLeading) : leading(fileLeading) {}

    void Write(const void* buffer, std::uint32_t n) override {
        if (total < leading.size()) {
            const auto part =
                static_cast<std::size_t>(std::min<std::uint64_t>(n, leading.size() - total));
            same = same && std::memcmp(buffer, leading.data() + total, part) == 0;
        }
        total += n;
    }

    bool SameAs(std::uint64_t fileSize) const { return same && total == fileSize; }

  private:
    std::span<const std::uint8_t> leading;
    std::uint64_t total = 0;
    bool same = true;
};

}  // namespace

NormalFormCheck::NormalFormCheck(GFXStream::ByteRangeInputStream& source, bool keepAlpha)
    : file(source), start(source.Offset()), keepAlphaBits(keepAlpha) {
    const std::uint8_t* bytes = file.Span(start, TGAHeader::kSize);
    if (bytes == nullptr) {
        return;  // too short for a header: NameReasons raises what ReadTGA does
    }
    std::uint8_t headerBytes[TGAHeader::kSize];
    std::memcpy(headerBytes, bytes, sizeof headerBytes);
    header = TGAHeader::Decode(headerBytes);
    if (!ReasonsFromHeaderAlone()) {
        return;
    }
    // Uncompressed rows: the image ID and colour map are read, the pixels'
    // extent is only measured.
    rows.emplace(file);
    ReasonsFromColourMap();
    ReasonsFromTrailingBytes();
    if (!reasons.empty()) {
        return;
    }
    if (!WriterLeadsWithFileBytes()) {
        reasons.emplace_back("header fields");
        return;
    }
    headerNormal = true;
}

// The reasons the header names by itself; answers whether there are none.
bool NormalFormCheck::ReasonsFromHeaderAlone() {
    if (header.IsRunLength()) {
        reasons.emplace_back("run-length");
    }
    if (header.IsTopDown()) {
        reasons.emplace_back("top-down");
    }
    if (header.IsRightToLeft()) {
        reasons.emplace_back("right-to-left");
    }
    if ((header.imageDescriptor & ~0x30) != WrittenAlphaBits()) {
        reasons.emplace_back("attribute bits in the image descriptor");
    }
    if (header.idLength != 0) {
        reasons.emplace_back("image ID");
    }
    if (header.ImageClassBits() == 3 && header.pixelDepth == 8) {
        reasons.emplace_back("greyscale");
    }
    return reasons.empty();
}

void NormalFormCheck::ReasonsFromColourMap() {
    if (!header.HasColourMap()) {
        return;
    }
    if (!WritesColourMap(rows->Describe())) {
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
    const std::uint64_t extra = file.RangeSize() - rows->PixelEnd();
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

// Whether the writer, given the picture's shape, starts with the file's own
// header, image ID and colour map and writes as many bytes as the file holds.
bool NormalFormCheck::WriterLeadsWithFileBytes() {
    const std::uint64_t size = rows->PixelStart() - start;  // at most 18 + 255 + 65535 x 4
    const std::uint8_t* bytes = file.Span(start, static_cast<std::size_t>(size));
    const std::vector<std::uint8_t> leading(bytes, bytes + size);
    LeadingComparison written(leading);
    ShapeRows shape(*rows);
    WriteTGA(written, shape, false, WrittenAlphaBits());
    return written.SameAs(file.RangeSize() - start);
}

void NormalFormCheck::NameReasons() {
    if (rows) {
        return;  // the header phase read all it names
    }
    file.Seek(start);
    rows.emplace(file);
    if (rows->PacketsCrossRows()) {
        // Only a run-length file has packets, and "run-length" comes first.
        reasons.insert(reasons.begin() + 1, "run-length packets cross rows");
    }
    ReasonsFromColourMap();
    ReasonsFromTrailingBytes();
}

void NormalFormCheck::Compare(GFXStream::InputStream& again) {
    GFXStream::ComparingOutputStream rewritten(again);
    WriteTGA(rewritten, *rows, false, WrittenAlphaBits());
    if (!rewritten.SameAsOriginal()) {
        reasons.emplace_back("header fields");
    }
}

}  // namespace Codec
