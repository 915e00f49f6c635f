#include "gfxstream/ByteRangeInputStream.h"

#include <algorithm>
#include <cstring>

#include "gfxstream/Exception.h"

namespace GFXStream {

void ByteRangeInputStream::SetRange(const std::uint8_t* begin, std::size_t size) {
    SetWindow(begin, size, 0, size);
}

void ByteRangeInputStream::SetWindow(const std::uint8_t* begin, std::size_t windowSize,
                                     std::uint64_t offset, std::uint64_t size) {
    viewBase = begin;
    position = begin;
    end = begin + windowSize;
    windowOffset = offset;
    rangeSize = size;
}

void ByteRangeInputStream::ClearRange() {
    viewBase = position = end = nullptr;
    windowOffset = rangeSize = 0;
}

void ByteRangeInputStream::MoveWindow(std::uint64_t /*offset*/, std::size_t /*n*/,
                                      bool /*backward*/) {}

std::uint64_t ByteRangeInputStream::Remaining() const {
    return rangeSize - Offset();
}

bool ByteRangeInputStream::Ensure(std::size_t n) {
    if (static_cast<std::size_t>(end - position) >= n) {
        return true;
    }
    if (Remaining() < n) {
        return false;
    }
    ViewAt(Offset(), n, false);
    return true;
}

void ByteRangeInputStream::ViewAt(std::uint64_t offset, std::size_t n, bool backward) {
    MoveWindow(offset, n, backward);
    position = viewBase + (offset - windowOffset);
}

void ByteRangeInputStream::Seek(std::uint64_t offset) {
    offset = std::min(offset, rangeSize);
    const std::uint64_t windowEnd = windowOffset + static_cast<std::uint64_t>(end - viewBase);
    if (offset < windowOffset || offset > windowEnd) {
        ViewAt(offset, 0, offset < windowOffset);
    } else {
        position = viewBase + (offset - windowOffset);
    }
}

const std::uint8_t* ByteRangeInputStream::Span(std::uint64_t offset, std::size_t n) {
    if (n > kMaxSpan || offset > rangeSize || rangeSize - offset < n) {
        return nullptr;
    }
    const std::uint64_t windowEnd = windowOffset + static_cast<std::uint64_t>(end - viewBase);
    if (offset < windowOffset || offset + n > windowEnd) {
        const std::uint64_t at = Offset();
        MoveWindow(offset, n, offset < windowOffset);
        // The read position keeps its place when it is still in view, and
        // otherwise stands at the span.
        position =
            at >= windowOffset && at - windowOffset <= static_cast<std::uint64_t>(end - viewBase)
                ? viewBase + (at - windowOffset)
                : viewBase + (offset - windowOffset);
    }
    Consumed();
    return viewBase + (offset - windowOffset);
}

std::uint8_t ByteRangeInputStream::ReadByte() {
    if (!Ensure(1)) {
        throw Exception(kUnexpectedEndText);
    }
    const std::uint8_t value = *position++;
    Consumed();
    return value;
}

std::uint16_t ByteRangeInputStream::ReadWord() {
    if (!Ensure(2)) {
        throw Exception(kUnexpectedEndText);
    }
    const auto value = static_cast<std::uint16_t>(position[0] | (position[1] << 8));
    position += 2;
    Consumed();
    return value;
}

std::uint32_t ByteRangeInputStream::ReadDword() {
    if (!Ensure(4)) {
        throw Exception(kUnexpectedEndText);
    }
    const std::uint32_t value = static_cast<std::uint32_t>(position[0]) |
                                static_cast<std::uint32_t>(position[1]) << 8 |
                                static_cast<std::uint32_t>(position[2]) << 16 |
                                static_cast<std::uint32_t>(position[3]) << 24;
    position += 4;
    Consumed();
    return value;
}

std::uint32_t ByteRangeInputStream::Read(void* buffer, std::uint32_t n) {
    if (n == 0) {
        return 0;
    }
    if (buffer == nullptr) {
        return n;  // the count asked for, by contract; nothing moves
    }
    const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, Remaining()));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t done = 0;
    while (done < wanted) {
        if (position == end) {
            ViewAt(Offset(), 1, false);
        }
        const auto k = static_cast<std::uint32_t>(
            std::min<std::size_t>(wanted - done, static_cast<std::size_t>(end - position)));
        std::memcpy(out + done, position, k);
        position += k;
        done += k;
        Consumed();
    }
    return wanted;
}

std::uint32_t ByteRangeInputStream::Skip(std::uint32_t n) {
    const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, Remaining()));
    if (k == 0) {
        return 0;
    }
    if (static_cast<std::size_t>(end - position) >= k) {
        position += k;
    } else {
        Seek(Offset() + k);
    }
    Consumed();
    return k;
}

std::uint32_t ByteRangeInputStream::SkipBack(std::int32_t /*arg*/, std::uint32_t n) {
    const auto k = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, Offset()));
    if (static_cast<std::size_t>(position - viewBase) >= k) {
        position -= k;
    } else {
        Seek(Offset() - k);
    }
    return k;
}

}  // namespace GFXStream
