// Truncations and single-bit flips of real and generated files. Each must
// decode or fail with a GFXStream::Exception whose text begins "ReadTGA: ";
// nothing else may escape, and (under the sanitizers) no byte outside the
// input and the image may be touched. The normal form written straight from
// the file must agree with each: the same bytes, or the same refusal.
#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "HardeningSupport.h"
#include "codec/ReadTGA.h"
#include "codec/TGAFileRows.h"
#include "codec/WriteTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"

using namespace Codec;

namespace {

void ExpectStreamedAgrees(const Bytes& exact, const std::string& outcome) {
    GFXStream::MemoryInputStream in(exact.data(), exact.size());
    GFXStream::MemoryOutputStream out;
    std::string streamed;
    try {
        TGAFileRows rows(in);
        WriteTGA(out, rows, false);
    } catch (const GFXStream::Exception& e) {
        streamed = e.Text();
    }
    ASSERT_EQ(streamed, outcome);
    if (outcome.empty()) {
        ASSERT_TRUE(out.bytes == NormalForm(exact));
    }
}

constexpr const char* kEndOfInput = "ReadTGA: Unexpected end of input";

// "" when the bytes decode, else the reader's message; a failure of the test
// for anything that is not a GFXStream::Exception from the reader.
std::string DecodeOutcome(const std::uint8_t* data, std::size_t size) {
    // A copy of exactly `size` bytes, so a read past the end is caught.
    const Bytes exact(data, data + size);
    GFXStream::MemoryInputStream in(exact.data(), exact.size());
    try {
        const std::unique_ptr<Image> image = ReadTGA(in, nullptr, nullptr);
        EXPECT_NE(image, nullptr);
        ExpectStreamedAgrees(exact, "");
        return "";
    } catch (const GFXStream::Exception& e) {
        const std::string message = e.Text();
        EXPECT_EQ(message.rfind("ReadTGA: ", 0), 0u) << message;
        ExpectStreamedAgrees(exact, message);
        return message.empty() ? "(empty)" : message;
    } catch (const std::bad_alloc&) {
        ADD_FAILURE() << "std::bad_alloc from " << size << " bytes";
    }
    return "bad_alloc";
}

struct Input {
    std::string name;
    Bytes bytes;
    bool generated;  // nothing follows the pixels, so every cut is an error
};

std::vector<Input> Inputs() {
    std::vector<Input> inputs;
    for (auto& [name, bytes] : GeneratedFiles()) {
        inputs.push_back({name, std::move(bytes), true});
    }
    for (const std::string& path : CorpusSample(36)) {
        if (auto bytes = ReadBytes(path)) {
            inputs.push_back({path, std::move(*bytes), false});
        }
    }
    return inputs;
}

// Every length up to 4 KiB; beyond, the first 512, the last 64 and 256
// spread between them.
std::vector<std::size_t> CutLengths(std::size_t size) {
    std::vector<std::size_t> lengths;
    if (size <= 4096) {
        for (std::size_t n = 0; n < size; ++n) {
            lengths.push_back(n);
        }
        return lengths;
    }
    for (std::size_t n = 0; n < 512; ++n) {
        lengths.push_back(n);
    }
    for (std::size_t i = 1; i < 256; ++i) {
        lengths.push_back(512 + i * (size - 576) / 256);
    }
    for (std::size_t n = size - 64; n < size; ++n) {
        lengths.push_back(n);
    }
    return lengths;
}

// Where the pixel data begins, as the header says, clamped to the file.
std::size_t PixelDataOffset(const Bytes& file) {
    if (file.size() < 18) {
        return file.size();
    }
    const auto mapLength = static_cast<std::size_t>(file[5] | file[6] << 8);
    const std::size_t entryBytes = (file[7] + 7u) / 8u;
    const std::size_t offset = 18 + file[0] + (file[1] != 0 ? mapLength * entryBytes : 0);
    return std::min(offset, file.size());
}

// The sweeps below take what they find of the corpus; this test says when
// they found none.
TEST(Sweep, CorpusSampleIsRead) {
    SKIP_WITHOUT_CORPUS();
    EXPECT_EQ(CorpusSample(36).size(), 36u);
}

TEST(Sweep, EveryTruncationDecodesOrFailsCleanly) {
    const std::vector<Input> inputs = Inputs();
    ASSERT_GE(inputs.size(), 40u);
    std::size_t cuts = 0;
    for (const Input& input : inputs) {
        SCOPED_TRACE(input.name);
        for (const std::size_t length : CutLengths(input.bytes.size())) {
            const std::string outcome = DecodeOutcome(input.bytes.data(), length);
            ++cuts;
            if (input.generated) {
                // No footer to lose: any cut takes away needed bytes.
                ASSERT_EQ(outcome, kEndOfInput) << "cut to " << length << " bytes";
            }
        }
        if (input.generated) {
            EXPECT_EQ(DecodeOutcome(input.bytes.data(), input.bytes.size()), "");
        }
    }
    RecordProperty("truncations", static_cast<int>(cuts));
}

TEST(Sweep, EverySingleBitFlipInHeaderAndFirstPacketsDecodesOrFailsCleanly) {
    std::size_t flips = 0;
    for (const Input& input : Inputs()) {
        SCOPED_TRACE(input.name);
        Bytes bytes = input.bytes;
        const std::size_t data = PixelDataOffset(bytes);
        std::vector<std::size_t> offsets;
        for (std::size_t i = 0; i < std::min<std::size_t>(18, bytes.size()); ++i) {
            offsets.push_back(i);
        }
        for (std::size_t i = data; i < std::min(data + 48, bytes.size()); ++i) {
            offsets.push_back(i);
        }
        for (const std::size_t offset : offsets) {
            for (int bit = 0; bit < 8; ++bit) {
                bytes[offset] = static_cast<std::uint8_t>(bytes[offset] ^ (1u << bit));
                DecodeOutcome(bytes.data(), bytes.size());
                bytes[offset] = static_cast<std::uint8_t>(bytes[offset] ^ (1u << bit));
                ++flips;
            }
        }
    }
    RecordProperty("flips", static_cast<int>(flips));
}

}  // namespace
