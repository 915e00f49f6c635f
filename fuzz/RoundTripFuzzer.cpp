// Whatever ReadTGA accepts, WriteTGA must write (uncompressed and
// run-length) so that ReadTGA gives the same picture back, and writing that
// again must give the same bytes: the normal form is a fixed point.
#include <cstring>
#include <vector>

#include "DecodeCheck.h"
#include "FuzzTarget.h"
#include "codec/ReadTGA.h"
#include "codec/WriteTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"

using namespace Codec;

namespace {

std::vector<std::uint8_t> Encode(const Image& image, bool rle) {
    GFXStream::MemoryOutputStream out;
    try {
        WriteTGA(out, image, rle);
    } catch (const GFXStream::Exception& e) {
        FuzzFailure(e.Text());
    }
    return out.bytes;
}

std::unique_ptr<Image> DecodeWritten(const std::vector<std::uint8_t>& bytes) {
    GFXStream::MemoryInputStream in(bytes.data(), bytes.size());
    try {
        auto image = ReadTGA(in, nullptr, nullptr);
        FUZZ_REQUIRE(in.Remaining() == 0);  // the writer adds nothing after the pixels
        return image;
    } catch (const GFXStream::Exception& e) {
        FuzzFailure(e.Text());
    }
}

bool SamePixels(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height || a.bitsPerPixel != b.bitsPerPixel ||
        a.RowBytes() != b.RowBytes()) {
        return false;
    }
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(a.height); ++y) {
        if (a.RowBytes() != 0 && std::memcmp(a.Row(y), b.Row(y), a.RowBytes()) != 0) {
            return false;
        }
    }
    return true;
}

bool SamePalette(const Image& a, const Image& b) {
    if (a.paletteSize != b.paletteSize) {
        return false;
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(a.paletteSize); ++i) {
        if (!(a.GetPaletteEntry(i) == b.GetPaletteEntry(i))) {
            return false;
        }
    }
    return true;
}

// Whether the written file carries the palette: the writer drops the
// palette of true-colour and deep greyscale pictures, whose pixels do not
// index it.
bool WritesPalette(const std::vector<std::uint8_t>& file) {
    return file.size() > 1 && file[1] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<Image> original = DecodeChecked(data, size);
    if (!original) {
        return 0;
    }
    for (const bool rle : {false, true}) {
        const std::vector<std::uint8_t> written = Encode(*original, rle);
        const std::unique_ptr<Image> reread = DecodeWritten(written);
        FUZZ_REQUIRE(SamePixels(*original, *reread));
        FUZZ_REQUIRE(reread->xOrigin == original->xOrigin);
        FUZZ_REQUIRE(reread->yOrigin == original->yOrigin);
        if (WritesPalette(written)) {
            FUZZ_REQUIRE(SamePalette(*original, *reread));
        }
        // Once in the normal form, a picture stays exactly as it is.
        const std::vector<std::uint8_t> again = Encode(*reread, rle);
        FUZZ_REQUIRE(again == written);
        const std::unique_ptr<Image> third = DecodeWritten(Encode(*reread, !rle));
        FUZZ_REQUIRE(SamePixels(*reread, *third));
        FUZZ_REQUIRE(SamePalette(*reread, *third));
        FUZZ_REQUIRE(third->imageClass == reread->imageClass);
    }
    return 0;
}
