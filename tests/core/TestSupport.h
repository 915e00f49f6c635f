// Helpers shared by the core tests: an in-memory output stream, a private
// temporary folder, and a builder for hand-made TGA files.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gfxstream/Exception.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/OutputStream.h"
#include "image/ReadTGA.h"

using Bytes = std::vector<std::uint8_t>;

using GFXStream::MemoryOutputStream;

// A folder of its own under the system's temporary folder, removed with
// everything in it when the test ends.
class TempDir {
  public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        path_ =
            std::filesystem::temp_directory_path() / ("tessary-core-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(counter.fetch_add(1)));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The text of the GFXStream::Exception that `body` raises, or nothing.
template <typename F>
std::optional<std::string> MessageOf(F&& body) {
    try {
        body();
    } catch (const GFXStream::Exception& e) {
        return std::string(e.message ? e.message : "(null)");
    }
    return std::nullopt;
}

// An 18-byte header followed by whatever the test appends.
inline Bytes TgaHeader(std::uint8_t imageType, std::uint16_t width, std::uint16_t height,
                       std::uint8_t depth, std::uint8_t descriptor = 0,
                       std::uint8_t colorMapType = 0, std::uint16_t firstEntry = 0,
                       std::uint16_t mapLength = 0, std::uint8_t entrySize = 0,
                       std::uint8_t idLength = 0) {
    const auto lo = [](std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); };
    const auto hi = [](std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); };
    return {idLength,
            colorMapType,
            imageType,
            lo(firstEntry),
            hi(firstEntry),
            lo(mapLength),
            hi(mapLength),
            entrySize,
            0,
            0,
            0,
            0,
            lo(width),
            hi(width),
            lo(height),
            hi(height),
            depth,
            descriptor};
}

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

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
