// Throughput of the codec core on pictures made here, in memory or in a
// temporary folder: the reader on every stored layout that costs something
// different, the writer in both encodings, and the output stream under the
// three write patterns it sees (byte by byte, small blocks, large blocks).
//
// Pixel content is a mix of long runs and noise, so the run-length files
// hold both packet kinds in realistic proportions.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/ReadTGA.h"
#include "codec/TGAFileRows.h"
#include "codec/WriteTGA.h"
#include "files/ReplacementFile.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MemoryInputStream.h"
#include "gfxstream/MemoryOutputStream.h"
#include "gfxstream/PositionalFileInputStream.h"

using namespace Codec;
using namespace Files;

namespace {

std::uint32_t NextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

// Rows of alternating stretches: a run of one value (16 to 527 pixels), then
// noise (8 to 135 pixels).
std::unique_ptr<Image> MakePicture(std::int32_t width, std::int32_t height, std::int32_t bits) {
    ImageDesc desc;
    desc.width = width;
    desc.height = height;
    desc.bitsPerPixel = bits;
    if (bits == 8) {
        desc.paletteSize = 256;
        desc.imageClass = ImageClass::ColourMapped;
    }
    auto image = std::make_unique<Image>(desc);
    const auto bytesPerPixel = static_cast<std::size_t>(image->bytesPerPixel);
    std::uint32_t state = 0x9E3779B9u;
    for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(height); ++y) {
        std::uint8_t* row = image->Row(y);
        std::size_t x = 0;
        bool run = (y & 1) != 0;
        while (x < static_cast<std::size_t>(width)) {
            const std::size_t length = std::min<std::size_t>(
                run ? 16 + NextRandom(state) % 512 : 8 + NextRandom(state) % 128,
                static_cast<std::size_t>(width) - x);
            const std::uint32_t value = NextRandom(state);
            for (std::size_t i = 0; i < length; ++i, ++x) {
                const std::uint32_t pixel = run ? value : NextRandom(state);
                std::memcpy(row + x * bytesPerPixel, &pixel, bytesPerPixel);
            }
            run = !run;
        }
    }
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(desc.paletteSize); ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        image->SetPaletteEntry(i, {level, static_cast<std::uint8_t>(255 - i), level});
    }
    return image;
}

enum class Layout { BottomUp, TopDown, RunLength };

std::vector<std::uint8_t> EncodeFile(const Image& image, Layout layout) {
    GFXStream::MemoryOutputStream out;
    out.bytes.reserve(image.PixelBufferSize() + 1024);
    WriteTGA(out, image, layout == Layout::RunLength);
    if (layout == Layout::TopDown) {
        out.bytes[17] |= 0x20;  // same bytes, rows now read top to bottom
    }
    return out.bytes;
}

void SetBytesPerIteration(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

std::int32_t BitsFor(std::int64_t argument) {
    return static_cast<std::int32_t>(argument);
}

void ReadFromMemory(benchmark::State& state, Layout layout) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    const auto file = EncodeFile(*MakePicture(side, side, BitsFor(state.range(1))), layout);
    std::size_t decodedBytes = 0;
    for (auto _ : state) {
        GFXStream::MemoryInputStream in(file.data(), file.size());
        auto image = ReadTGA(in, nullptr, nullptr);
        decodedBytes = image->PixelBufferSize();
        benchmark::DoNotOptimize(image->Row(0));
    }
    // Bytes of picture produced, so run-length and raw files compare.
    SetBytesPerIteration(state, decodedBytes);
    state.counters["file_MiB"] = static_cast<double>(file.size()) / (1 << 20);
}

void BM_ReadTGA_BottomUp(benchmark::State& state) {
    ReadFromMemory(state, Layout::BottomUp);
}
void BM_ReadTGA_TopDown(benchmark::State& state) {
    ReadFromMemory(state, Layout::TopDown);
}
void BM_ReadTGA_RunLength(benchmark::State& state) {
    ReadFromMemory(state, Layout::RunLength);
}

// The reader as the batch uses it: through a mapping of a file that is in the
// page cache, including the release of pages already read.
void BM_ReadTGA_MappedFile(benchmark::State& state) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    const auto file = EncodeFile(*MakePicture(side, side, 32), Layout::TopDown);
    const auto path = std::filesystem::temp_directory_path() /
                      ("tessary-bench-" + std::to_string(::getpid()) + ".tga");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size()) {
            state.SkipWithError("cannot write the temporary file");
            if (f != nullptr) {
                std::fclose(f);
            }
            return;
        }
        std::fclose(f);
    }
    for (auto _ : state) {
        GFXStream::MappedFileInputStream in;
        if (!in.Open(path.c_str())) {
            state.SkipWithError("cannot map the temporary file");
            break;
        }
        auto image = ReadTGA(in, nullptr, nullptr);
        benchmark::DoNotOptimize(image->Row(0));
    }
    std::filesystem::remove(path);
    SetBytesPerIteration(state, file.size());
}

// Counts the system writes the ring makes, so that the benchmarks show how
// many calls each pattern of writes costs.
class CountingFileOutputStream : public GFXStream::FileOutputStream {
  public:
    std::uint64_t systemWrites = 0;

  protected:
    std::int64_t SystemWrite(const std::uint8_t* data, std::size_t n) override {
        ++systemWrites;
        return FileOutputStream::SystemWrite(data, n);
    }
};

// The writer through the real output stream into /dev/null: the codec, the
// ring's copies and the system calls, without a disk or page cache behind.
void WriteToNull(benchmark::State& state, bool rle) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    const auto image = MakePicture(side, side, BitsFor(state.range(1)));
    std::uint64_t writes = 0;
    for (auto _ : state) {
        CountingFileOutputStream out;
        if (!out.Open("/dev/null", true)) {
            state.SkipWithError("cannot open /dev/null");
            break;
        }
        WriteTGA(out, *image, rle);
        out.Close();
        writes = out.systemWrites;
    }
    SetBytesPerIteration(state, image->PixelBufferSize());
    state.counters["system_writes"] = static_cast<double>(writes);
}

void BM_WriteTGA_Uncompressed(benchmark::State& state) {
    WriteToNull(state, false);
}
void BM_WriteTGA_RunLength(benchmark::State& state) {
    WriteToNull(state, true);
}

// One file's whole conversion as the batch does it: open, convert, release
// the input, and put the replacement file written in a temporary folder in
// place. Includes the page cache's cost of the new file, as a copy would.
// `path`: 0 reads the rows through the mapping, 1 by position (bottom-up
// rows copied inside the system), 2 as the batch chooses; comparing 0 and 1
// over the sizes gives the crossovers TGAFileRows uses. A file of at most
// MappedFileInputStream::kReadWholeUpTo is read whole whatever the path.
// One input stream serves every iteration, as one serves a batch worker,
// so its buffer is made once.
void BM_ConvertFile(benchmark::State& state) {
    const auto side = static_cast<std::int32_t>(state.range(0));
    const auto layout = static_cast<Layout>(state.range(1));
    const bool rle = state.range(2) != 0;
    const std::int64_t path = state.range(3);
    const auto folder =
        std::filesystem::temp_directory_path() / ("tessary-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto input = folder / "in.tga";
    const auto output = folder / "out.tga";
    {
        const auto file = EncodeFile(*MakePicture(side, side, 32), layout);
        std::FILE* f = std::fopen(input.c_str(), "wb");
        const bool written =
            f != nullptr && std::fwrite(file.data(), 1, file.size(), f) == file.size();
        if (f != nullptr) {
            std::fclose(f);
        }
        if (!written) {
            state.SkipWithError("cannot write the input file");
            std::filesystem::remove_all(folder);
            return;
        }
    }
    std::optional<std::uint64_t> bulkFrom;
    if (path != 2) {
        bulkFrom = path == 1 ? 0 : UINT64_MAX;
    }
    std::size_t bytes = 0;
    GFXStream::MappedFileInputStream in;
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::remove(output);
        state.ResumeTiming();
        GFXStream::FileOutputStream out;
        Files::ReplacementFile replacement;
        if (!in.Open(input.c_str())) {
            state.SkipWithError("cannot map the input file");
            break;
        }
        GFXStream::PositionalFileInputStream bulk(in.Handle(), in.Size());
        TGAFileRows rows(in, &bulk, bulkFrom);
        if (!replacement.Open(output.c_str())) {
            state.SkipWithError("cannot create the output file");
            break;
        }
        out.Attach(replacement.Handle());
        WriteTGA(out, rows, rle);
        in.Close();
        out.Close();
        replacement.Commit();
        bytes = RowBytesOf(rows.Describe()) * static_cast<std::size_t>(side);
    }
    std::filesystem::remove_all(folder);
    SetBytesPerIteration(state, bytes);
}

// The output stream into /dev/null: the ring's own cost and its system calls,
// without a disk behind them.
void StreamToNull(benchmark::State& state, std::uint32_t blockSize) {
    constexpr std::size_t kTotal = std::size_t{64} << 20;
    std::vector<std::uint8_t> block(blockSize, 0x5A);
    std::uint64_t writes = 0;
    for (auto _ : state) {
        CountingFileOutputStream out;
        if (!out.Open("/dev/null", true)) {
            state.SkipWithError("cannot open /dev/null");
            break;
        }
        if (blockSize == 1) {
            for (std::size_t i = 0; i < kTotal; ++i) {
                out.WriteByte(static_cast<std::uint8_t>(i));
            }
        } else {
            for (std::size_t done = 0; done < kTotal; done += blockSize) {
                out.Write(block.data(), blockSize);
            }
        }
        out.Close();
        writes = out.systemWrites;
    }
    SetBytesPerIteration(state, kTotal);
    state.counters["system_writes"] = static_cast<double>(writes);
}

void BM_FileOutputStream_Bytes(benchmark::State& state) {
    StreamToNull(state, 1);
}
void BM_FileOutputStream_Blocks(benchmark::State& state) {
    StreamToNull(state, static_cast<std::uint32_t>(state.range(0)));
}

// Sides 256 (a batch file), 2048 and 8192 (the 256 MiB picture at 32 bits);
// depths 32, 24 and 8 (colour-mapped).
void PictureSizes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t bits : {32, 24, 8}) {
        for (const std::int64_t side : {256, 2048, 8192}) {
            if (side == 8192 && bits != 32) {
                continue;  // the largest picture is only needed once
            }
            b->Args({side, bits});
        }
    }
    b->ArgNames({"side", "bits"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_ReadTGA_BottomUp)->Apply(PictureSizes);
BENCHMARK(BM_ReadTGA_TopDown)->Apply(PictureSizes);
BENCHMARK(BM_ReadTGA_RunLength)->Apply(PictureSizes);
BENCHMARK(BM_ReadTGA_MappedFile)
    ->Arg(2048)
    ->Arg(8192)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WriteTGA_Uncompressed)->Apply(PictureSizes);
BENCHMARK(BM_WriteTGA_RunLength)->Apply(PictureSizes);
// Sides 128 to 2048 at 32 bits: 64 KiB to 16 MiB of pixels, around the
// crossovers; 8192: the 256 MiB picture as the batch converts it.
void ConvertSizes(benchmark::internal::Benchmark* b) {
    for (const std::int64_t layout : {0, 1, 2}) {
        for (const std::int64_t side : {128, 181, 256, 512, 1024, 2048}) {
            for (const std::int64_t path : {0, 1}) {
                b->Args({side, layout, 0, path});
            }
        }
        b->Args({8192, layout, 0, 2});
    }
    b->Args({8192, 1, 1, 2});
    b->ArgNames({"side", "layout", "rle", "path"})->Unit(benchmark::kMillisecond)->UseRealTime();
}
BENCHMARK(BM_ConvertFile)->Apply(ConvertSizes);
BENCHMARK(BM_FileOutputStream_Bytes)->Unit(benchmark::kMillisecond)->UseRealTime();
// Small blocks: a packet's pixels; large: a whole 8192-pixel row and more.
BENCHMARK(BM_FileOutputStream_Blocks)
    ->ArgName("block")
    ->Arg(16)
    ->Arg(300)
    ->Arg(32768)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
