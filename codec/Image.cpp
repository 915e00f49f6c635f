#include "codec/Image.h"

#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "codec/CheckedSize.h"

namespace Codec {

namespace {

// A large pixel buffer is faulted in once, as the reader stores its rows.
// In 4 KiB pages that is one fault per page, and for a 256 MiB picture the
// faults cost more than the copying; asking for huge pages makes it one
// fault per 2 MiB. The pages stay fresh zero pages from the system either
// way. Small buffers are left alone: they come from the heap.
void PreferHugePages([[maybe_unused]] void* buffer, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (size < 2 * kHugePage) {
        return;
    }
    static const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer);
    const std::uintptr_t first = (begin + pageSize - 1) & ~(pageSize - 1);
    const std::uintptr_t last = (begin + size) & ~(pageSize - 1);
    if (last > first) {
        // Advice only: where huge pages are off, nothing changes.
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#endif
}

std::int32_t BytesPerPixelFor(std::int32_t bitsPerPixel) {
    if (bitsPerPixel < 0) {
        throw std::bad_alloc();
    }
    return static_cast<std::int32_t>((static_cast<std::int64_t>(bitsPerPixel) + 7) / 8);
}

std::int32_t StrideFor(const ImageDesc& desc) {
    if (desc.width < 0 || desc.height < 0 || desc.paletteSize < 0) {
        throw std::bad_alloc();
    }
    const std::int64_t rowBytes =
        static_cast<std::int64_t>(desc.width) * BytesPerPixelFor(desc.bitsPerPixel);
    const std::int64_t stride = (rowBytes + 3) & ~std::int64_t{3};
    if (stride > INT32_MAX) {
        throw std::bad_alloc();
    }
    return static_cast<std::int32_t>(stride);
}

void FillUnits(std::uint8_t* buffer, std::size_t size, const std::uint8_t* unit,
               std::size_t unitSize) {
    for (std::size_t offset = 0; offset + unitSize <= size; offset += unitSize) {
        std::memcpy(buffer + offset, unit, unitSize);
    }
}

}  // namespace

Image::Image(ImageDesc desc)
    : width(desc.width),
      height(desc.height),
      xOrigin(desc.xOrigin),
      yOrigin(desc.yOrigin),
      fill(desc.fill),
      bitsPerPixel(desc.bitsPerPixel),
      bytesPerPixel(BytesPerPixelFor(desc.bitsPerPixel)),
      stride(StrideFor(desc)),
      paletteSize(desc.paletteSize),
      imageClass(desc.imageClass),
      rowBytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel)) {
    const auto size = CheckedSize::Multiply(static_cast<std::uint64_t>(height),
                                            static_cast<std::uint64_t>(stride));
    if (!size || !CheckedSize::FitsMemory(*size)) {
        throw std::bad_alloc();
    }
    pixelBufferSize = static_cast<std::size_t>(*size);
    if (paletteSize != 0) {
        palette.reset(new PaletteColour[static_cast<std::size_t>(paletteSize)]());
    }

    const std::uint8_t fillBytes[4] = {
        static_cast<std::uint8_t>(fill & 0xFF), static_cast<std::uint8_t>((fill >> 8) & 0xFF),
        static_cast<std::uint8_t>((fill >> 16) & 0xFF), static_cast<std::uint8_t>(fill >> 24)};
    const bool zeroFill = fill == 0 || bytesPerPixel == 0 || bytesPerPixel > 4;
    // A zero fill takes fresh pages from the system, which are already zero,
    // so the pixels about to be overwritten cost nothing to prepare.
    const std::size_t allocation = pixelBufferSize == 0 ? 1 : pixelBufferSize;
    pixels.reset(static_cast<std::uint8_t*>(zeroFill ? std::calloc(allocation, 1)
                                                     : std::malloc(allocation)));
    if (!pixels) {
        throw std::bad_alloc();
    }
    PreferHugePages(pixels.get(), pixelBufferSize);
    if (zeroFill) {
        return;
    }
    std::uint8_t* const buffer = pixels.get();
    switch (bytesPerPixel) {
        case 1:
            std::memset(buffer, fillBytes[0], pixelBufferSize);
            break;
        case 2:
        case 4:
            FillUnits(buffer, pixelBufferSize, fillBytes, static_cast<std::size_t>(bytesPerPixel));
            break;
        case 3:
            for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(height); ++y) {
                FillUnits(buffer + RowOffset(y), rowBytes, fillBytes, 3);
            }
            break;
        default:
            break;
    }
}

std::uint8_t* Image::Row(std::uint32_t y) {
    return y < static_cast<std::uint32_t>(height) ? pixels.get() + RowOffset(y) : nullptr;
}

const std::uint8_t* Image::Row(std::uint32_t y) const {
    return y < static_cast<std::uint32_t>(height) ? pixels.get() + RowOffset(y) : nullptr;
}

void Image::SetRow(std::uint32_t y, const void* data) {
    if (y < static_cast<std::uint32_t>(height) && rowBytes != 0) {
        std::memcpy(pixels.get() + RowOffset(y), data, rowBytes);
    }
}

std::uint32_t Image::GetPixel(std::uint32_t x, std::uint32_t y) const {
    if (x >= static_cast<std::uint32_t>(width) || y >= static_cast<std::uint32_t>(height)) {
        return 0;
    }
    const std::size_t unit = bytesPerPixel > 4 ? 4 : static_cast<std::size_t>(bytesPerPixel);
    const std::uint8_t* pixel =
        pixels.get() + RowOffset(y) +
        static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel);
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < unit; ++i) {
        value |= static_cast<std::uint32_t>(pixel[i]) << (8 * i);
    }
    return value;
}

PaletteColour Image::GetPaletteEntry(std::uint32_t index) const {
    return index < static_cast<std::uint32_t>(paletteSize) ? palette[index] : PaletteColour{};
}

bool Image::SetPaletteEntry(std::uint32_t index, PaletteColour colour) {
    if (index >= static_cast<std::uint32_t>(paletteSize)) {
        return false;
    }
    palette[index] = colour;
    return true;
}

}  // namespace Codec
