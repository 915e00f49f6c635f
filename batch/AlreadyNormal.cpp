#include "batch/AlreadyNormal.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "codec/RowSource.h"
#include "codec/TGAFileRows.h"
#include "codec/TGAHeader.h"
#include "codec/WriteTGA.h"
#include "gfxstream/BlockOutputStream.h"
#include "gfxstream/Exception.h"

using namespace Codec;

namespace Batch {

namespace {

// A file's picture without its pixels: its description and palette, and
// rows of zeros, so that the writer's output has the right length without
// a page of pixel data being read.
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

// Keeps what the writer puts before the pixels (header, image ID, colour
// map) and counts the rest.
class LeadingBytes : public GFXStream::BlockOutputStream {
  public:
    void Write(const void* buffer, std::uint32_t n) override {
        Take(static_cast<const std::uint8_t*>(buffer), n);
    }

    const std::vector<std::uint8_t>& Leading() const { return leading; }
    std::uint64_t Total() const { return total; }

  private:
    void Take(const std::uint8_t* data, std::size_t n) {
        total += n;
        while (n > 0 && leading.size() < wanted) {
            const std::size_t part =
                static_cast<std::size_t>(std::min<std::uint64_t>(n, wanted - leading.size()));
            leading.insert(leading.end(), data, data + part);
            data += part;
            n -= part;
            if (!headerSeen && leading.size() == TGAHeader::kSize) {
                headerSeen = true;
                std::uint8_t bytes[TGAHeader::kSize];
                std::memcpy(bytes, leading.data(), sizeof bytes);
                const TGAHeader header = TGAHeader::Decode(bytes);
                wanted += header.idLength + ColourMapOf(header).regionBytes;
            }
        }
    }

    std::vector<std::uint8_t> leading;
    std::uint64_t wanted = TGAHeader::kSize;
    std::uint64_t total = 0;
    bool headerSeen = false;
};

void Rewind(GFXStream::MappedFileInputStream& input) {
    while (input.Offset() > 0) {
        input.SkipBack(
            0, static_cast<std::uint32_t>(std::min<std::uint64_t>(input.Offset(), 0x7FFFFFFF)));
    }
}

bool SameLeadingBytes(GFXStream::MappedFileInputStream& input, const LeadingBytes& written) {
    const std::vector<std::uint8_t>& expected = written.Leading();
    std::vector<std::uint8_t> stored(expected.size());
    const auto size = static_cast<std::uint32_t>(stored.size());
    return input.Read(stored.data(), size) == size && stored == expected;
}

bool Probe(GFXStream::MappedFileInputStream& input, std::uint8_t alphaBits) {
    std::uint8_t bytes[TGAHeader::kSize];
    const std::uint32_t read = input.Read(bytes, TGAHeader::kSize);
    input.SkipBack(0, read);
    if (read != TGAHeader::kSize) {
        return false;
    }
    // The writer never stores run-length packets, an image ID or another
    // origin unless asked to: no need to look further at such a file.
    const TGAHeader header = TGAHeader::Decode(bytes);
    if (header.IsRunLength() || header.idLength != 0 || header.IsTopDown() ||
        header.IsRightToLeft()) {
        return false;
    }
    LeadingBytes written;
    {
        TGAFileRows file(input);
        ShapeRows shape(file);
        WriteTGA(written, shape, false, alphaBits);
    }
    Rewind(input);
    const bool same = written.Total() == input.Size() && SameLeadingBytes(input, written);
    Rewind(input);
    return same;
}

}  // namespace

bool AlreadyInNormalForm(GFXStream::MappedFileInputStream& input, std::uint8_t alphaBits) noexcept {
    try {
        return Probe(input, alphaBits);
    } catch (const GFXStream::Exception&) {
    } catch (const std::exception&) {
    }
    try {
        Rewind(input);
    } catch (...) {
    }
    return false;
}

}  // namespace Batch
