// Helpers of the core tests: decoding in memory and the pixels of an image,
// over the shared temporary folder, files and TGA builders.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "codec/ReadTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/OutputStream.h"
#include "support/MessageOf.h"
#include "support/TempDir.h"
#include "support/TgaFiles.h"

using namespace Codec;

using GFXStream::MemoryOutputStream;

inline std::unique_ptr<Image> Decode(const Bytes& file) {
    GFXStream::MemoryInputStream in(file.data(), file.size());
    return ReadTGA(in, nullptr, nullptr);
}

// Pixel bytes of every row, bottom-up, without the rows' tail bytes.
inline Bytes PixelBytes(const Image& image) {
    Bytes out;
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(image.height); ++y) {
        const std::uint8_t* row = image.Row(y);
        out.insert(out.end(), row, row + image.RowBytes());
    }
    return out;
}

// Names parameterised cases after their `name` member.
struct ByName {
    template <typename P>
    std::string operator()(const ::testing::TestParamInfo<P>& param) const {
        return param.param.name;
    }
};
