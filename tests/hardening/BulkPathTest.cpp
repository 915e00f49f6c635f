// Rows read by position and bottom-up rows copied file to file: byte-exact in
// every layout read differently, around the buffer's size, when the system
// refuses the copy, and a file cut short is named.
#include <gtest/gtest.h>

#include "HardeningSupport.h"
#include "codec/ReadTGA.h"
#include "codec/TGAFileRows.h"
#include "codec/WriteTGA.h"
#include "files/FileCopy.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/PositionalFileInputStream.h"

using namespace Codec;

namespace {

// Copies at most `copyAtMost` bytes inside the system (none by default),
// then answers that it cannot copy between the two files.
class RefusingCopy : public GFXStream::FileOutputStream {
  public:
    std::size_t copyAtMost = 0;

  protected:
    std::int64_t SystemCopy(Files::FileHandle from, std::uint64_t offset, std::size_t n) override {
        if (copyAtMost == 0) {
            return Files::kCopyNotSupported;
        }
        const std::int64_t copied =
            FileOutputStream::SystemCopy(from, offset, std::min(n, copyAtMost));
        copyAtMost = 0;
        return copied;
    }
};

// Converts `path` with its rows read by position from the first byte of
// pixel data on; `claimedSize` stands for a file that was longer when opened.
Bytes ConvertByPosition(const std::string& path, const std::string& out, bool rle,
                        RefusingCopy& stream, std::uint64_t claimedSize = 0) {
    GFXStream::MappedFileInputStream in;
    EXPECT_TRUE(in.Open(path.c_str()));
    GFXStream::PositionalFileInputStream bulk(in.Handle(), claimedSize ? claimedSize : in.Size());
    TGAFileRows rows(in, &bulk, 0);
    EXPECT_TRUE(stream.Open(out.c_str(), true));
    WriteTGA(stream, rows, rle);
    stream.Close();
    return ReadBytes(out).value_or(Bytes{});
}

TEST(BulkPath, EveryLayoutIsByteExactAroundTheBufferSize) {
    const struct {
        std::uint8_t imageType, descriptor, depth;
    } layouts[] = {{2, 0x00, 24}, {2, 0x20, 32}, {2, 0x30, 24}, {10, 0x20, 32}, {9, 0x10, 8}};
    // A few rows; just over one buffer; several buffers, rows not dividing it.
    const std::uint16_t sides[] = {37, 860, 1531};
    ScratchDir scratch;
    for (const auto& layout : layouts) {
        for (const std::uint16_t side : sides) {
            SCOPED_TRACE(testing::Message() << int{layout.imageType} << "/"
                                            << int{layout.descriptor} << " side " << side);
            TgaSpec spec{.imageType = layout.imageType,
                         .width = side,
                         .height = side,
                         .depth = layout.depth,
                         .descriptor = layout.descriptor,
                         .packetsCrossRows = true};
            if (layout.depth == 8) {
                spec.mapLength = 256;
            }
            const Bytes file = MakeTga(spec);
            WriteBytes(scratch / "in.tga", file);
            GFXStream::MemoryInputStream memory(file.data(), file.size());
            GFXStream::MemoryOutputStream rleExpected;
            WriteTGA(rleExpected, *ReadTGA(memory, nullptr, nullptr), true);
            for (const bool rle : {false, true}) {
                RefusingCopy stream;
                stream.copyAtMost = SIZE_MAX;
                EXPECT_TRUE(
                    ConvertByPosition(scratch / "in.tga", scratch / "out.tga", rle, stream) ==
                    (rle ? rleExpected.bytes : NormalForm(file)));
            }
        }
    }
}

TEST(BulkPath, RefusedCopyGoesThroughMemoryAndAShortFileIsNamed) {
    TgaSpec spec{.width = 700, .height = 500, .depth = 32};
    const Bytes file = MakeTga(spec);
    ScratchDir scratch;
    WriteBytes(scratch / "in.tga", file);
    for (const std::size_t copyAtMost : {std::size_t{0}, std::size_t{300000}}) {
        RefusingCopy stream;
        stream.copyAtMost = copyAtMost;
        EXPECT_TRUE(ConvertByPosition(scratch / "in.tga", scratch / "out.tga", false, stream) ==
                    NormalForm(file));
    }
    // Opened at its full size, then found cut short while it is copied.
    WriteBytes(scratch / "short.tga", Bytes(file.begin(), file.end() - 4096));
    RefusingCopy stream;
    stream.copyAtMost = SIZE_MAX;
    try {
        ConvertByPosition(scratch / "short.tga", scratch / "out.tga", false, stream, file.size());
        ADD_FAILURE() << "a file shorter than it was is not noticed";
    } catch (const GFXStream::Exception& e) {
        EXPECT_STREQ(e.message, GFXStream::kFileChangedText);
    }
}

}  // namespace

// Rows are handed out at the offset within a page that they have in a file,
// the output's for rows made in memory and the input's for rows read by
// position: the system copies them out as fast as it copies a whole file,
// where a mismatch cost some processors twice the copy.
TEST(BulkPath, RowsSitAtTheirFileOffsetWithinAPage) {
    constexpr std::uintptr_t kPage = 4096;
    constexpr std::uint16_t kWidth = 100;
    constexpr std::uint16_t kHeight = 40;
    ScratchDir scratch;
    for (const int descriptor : {0x20, 0x10, 0x00}) {
        const bool topDownRaw = descriptor == 0x20;
        const TgaSpec spec{.imageType = static_cast<std::uint8_t>(topDownRaw ? 2 : 10),
                           .width = kWidth,
                           .height = kHeight,
                           .descriptor = static_cast<std::uint8_t>(descriptor),
                           .idLength = 5};
        WriteBytes(scratch / "in.tga", MakeTga(spec));
        GFXStream::MappedFileInputStream in;
        ASSERT_TRUE(in.Open((scratch / "in.tga").c_str()));
        GFXStream::PositionalFileInputStream bulk(in.Handle(), in.Size());
        TGAFileRows rows(in, &bulk, 0);
        for (const std::uint64_t at : {18u, 4095u, 70001u}) {
            SCOPED_TRACE(testing::Message() << descriptor << " at " << at);
            RowBlocks blocks;
            blocks.at = at;
            rows.Rows(0, 1, blocks);
            const std::uint64_t stored = 18 + 5 + std::uint64_t{kHeight - 1} * kWidth * 3;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks.block[0].data()) % kPage,
                      (topDownRaw ? stored : at) % kPage);
        }
    }
}
