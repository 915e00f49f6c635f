#include "DecodeCheck.h"

#include <cstring>
#include <new>

#include "FuzzTarget.h"
#include "codec/ReadTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/InputStream.h"
#include "gfxstream/MemoryInputStream.h"

using namespace Codec;

namespace {

struct CallbackState {
    const Image* image = nullptr;
    std::int32_t calls = 0;
    std::int32_t lastRow = 0;
    std::uint32_t sum = 0;
};

void OnRow(std::int32_t row, const void* data, void* userData) {
    auto& state = *static_cast<CallbackState*>(userData);
    if (state.calls++ == 0) {
        FUZZ_REQUIRE(row == -1);
        state.image = static_cast<const Image*>(data);
        return;
    }
    FUZZ_REQUIRE(state.image != nullptr);
    FUZZ_REQUIRE(row >= 0 && row < state.image->height);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < state.image->RowBytes(); ++i) {
        state.sum += bytes[i];
    }
    state.lastRow = row;
}

bool IsReaderText(const char* message) {
    static const char* const kReasons[] = {
        GFXStream::kUnexpectedEndText, kUnsupportedImageTypeText, kUnsupportedBitDepthText,
        kMissingColourMapText,         kUnsupportedColourMapText, kPacketPastImageEndText,
    };
    static const char kPrefix[] = "ReadTGA: ";
    if (message == nullptr || std::strncmp(message, kPrefix, sizeof kPrefix - 1) != 0) {
        return false;
    }
    for (const char* reason : kReasons) {
        if (std::strcmp(message + sizeof kPrefix - 1, reason) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint32_t TouchImage(const Image& image) {
    std::uint32_t sum = 0;
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(image.height); ++y) {
        const std::uint8_t* row = image.Row(y);
        FUZZ_REQUIRE(row != nullptr);
        for (std::size_t i = 0; i < image.RowBytes(); ++i) {
            sum += row[i];
        }
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(image.paletteSize); ++i) {
        const PaletteColour colour = image.GetPaletteEntry(i);
        sum += static_cast<std::uint32_t>(colour.red + colour.green + colour.blue);
    }
    return sum;
}

std::unique_ptr<Image> DecodeChecked(const std::uint8_t* data, std::size_t size) {
    GFXStream::MemoryInputStream stream(data, size);
    CallbackState state;
    std::unique_ptr<Image> image;
    try {
        image = ReadTGA(stream, OnRow, &state);
    } catch (const GFXStream::Exception& e) {
        if (!IsReaderText(e.message)) {
            FuzzFailure(e.Text());
        }
        return nullptr;
    } catch (const std::bad_alloc&) {
        // Only an image the input can actually hold gets this far, and
        // libFuzzer's inputs are far too small to declare one that cannot
        // be allocated.
        FuzzFailure("std::bad_alloc from a small input");
    }
    FUZZ_REQUIRE(image != nullptr);
    FUZZ_REQUIRE(state.image == image.get());
    FUZZ_REQUIRE(state.calls == image->height + 1);
    FUZZ_REQUIRE(stream.Remaining() <= size);
    TouchImage(*image);
    return image;
}
