// The normal form written straight from the file (TGAFileRows) must be, byte
// for byte, what WriteTGA gives for ReadTGA's image; whatever ReadTGA
// refuses must be refused with the same text, before a row is handed out.
// The file is read through a window of a few bytes that moves with every
// read, so the window's bookkeeping is driven as hard as the decoder. Each
// file is written three ways: rows from the file's own stream, rows from a
// second stream over the same bytes (as large pictures are read), and
// run-length encoded from that second stream.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "codec/ReadTGA.h"
#include "codec/TGAFileRows.h"
#include "codec/WriteTGA.h"
#include "gfxstream/ByteRangeInputStream.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"

using namespace Codec;

namespace {

class SmallWindowStream : public GFXStream::ByteRangeInputStream {
  public:
    SmallWindowStream(const std::uint8_t* bytes, std::size_t size) : data(bytes) {
        SetWindow(data, std::min(size, kWindow), 0, size);
    }

  protected:
    void MoveWindow(std::uint64_t offset, std::size_t n, bool backward) override {
        const std::size_t length = std::max(n, kWindow);
        std::uint64_t start = offset;
        if (backward) {
            start = offset + n > length ? offset + n - length : 0;
        }
        SetWindow(data + start,
                  static_cast<std::size_t>(std::min<std::uint64_t>(length, rangeSize - start)),
                  start, rangeSize);
    }

  private:
    static constexpr std::size_t kWindow = 7;
    const std::uint8_t* data;
};

// The bytes written, or the text raised instead.
struct Outcome {
    std::vector<std::uint8_t> bytes;
    std::string error;
};

// Writes the file from TGAFileRows; `bulk` reads the rows from a second
// stream over the same bytes.
Outcome Streamed(const std::uint8_t* data, std::size_t size, bool bulk, bool rle) {
    Outcome streamed;
    SmallWindowStream file(data, size);
    SmallWindowStream second(data, size);
    GFXStream::MemoryOutputStream out;
    try {
        TGAFileRows rows(file, bulk ? &second : nullptr, 0);
        WriteTGA(out, rows, rle);
        streamed.bytes = std::move(out.bytes);
    } catch (const GFXStream::Exception& e) {
        streamed.error = e.Text();
        FUZZ_REQUIRE(out.bytes.empty());  // refused before anything was written
    }
    return streamed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Outcome expected;
    Outcome expectedRle;
    try {
        GFXStream::MemoryInputStream in(data, size);
        const auto image = ReadTGA(in, nullptr, nullptr);
        GFXStream::MemoryOutputStream out;
        WriteTGA(out, *image, false);
        expected.bytes = std::move(out.bytes);
        GFXStream::MemoryOutputStream rleOut;
        WriteTGA(rleOut, *image, true);
        expectedRle.bytes = std::move(rleOut.bytes);
    } catch (const GFXStream::Exception& e) {
        expected.error = expectedRle.error = e.Text();
    } catch (const std::bad_alloc&) {
        return 0;  // a picture too large to hold: only the streamed path converts it
    }
    for (const bool bulk : {false, true}) {
        const Outcome streamed = Streamed(data, size, bulk, false);
        FUZZ_REQUIRE(streamed.error == expected.error);
        FUZZ_REQUIRE(streamed.bytes == expected.bytes);
    }
    const Outcome streamedRle = Streamed(data, size, true, true);
    FUZZ_REQUIRE(streamedRle.error == expectedRle.error);
    FUZZ_REQUIRE(streamedRle.bytes == expectedRle.bytes);
    return 0;
}
