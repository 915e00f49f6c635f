#include "gfxstream/ByteRangeInputStream.h"

#include <algorithm>
#include <cstring>

#include "gfxstream/Exception.h"

namespace GFXStream {

void ByteRangeInputStream::SetRange(const std::uint8_t* begin, std::size_t size) {
    viewBase = begin;
    position = begin;
    end = begin + size;
}

void ByteRangeInputStream::ClearRange() {
    viewBase = position = end = nullptr;
}

std::uint64_t ByteRangeInputStream::Remaining() const {
    return static_cast<std::uint64_t>(end - position);
}

std::uint32_t ByteRangeInputStream::TakeUpTo(std::uint32_t n) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(n, Remaining()));
}

std::uint8_t ByteRangeInputStream::ReadByte() {
    if (Remaining() < 1) {
        throw Exception(kUnexpectedEndText);
    }
    const std::uint8_t value = *position++;
    Consumed();
    return value;
}

std::uint16_t ByteRangeInputStream::ReadWord() {
    if (Remaining() < 2) {
        throw Exception(kUnexpectedEndText);
    }
    const auto value = static_cast<std::uint16_t>(position[0] | (position[1] << 8));
    position += 2;
    Consumed();
    return value;
}

std::uint32_t ByteRangeInputStream::ReadDword() {
    if (Remaining() < 4) {
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
    const std::uint32_t k = TakeUpTo(n);
    if (k != 0) {
        std::memcpy(buffer, position, k);
        position += k;
        Consumed();
    }
    return k;
}

std::uint32_t ByteRangeInputStream::Skip(std::uint32_t n) {
    const std::uint32_t k = TakeUpTo(n);
    position += k;
    if (k != 0) {
        Consumed();
    }
    return k;
}

std::uint32_t ByteRangeInputStream::SkipBack(std::int32_t /*arg*/, std::uint32_t n) {
    const auto k = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(n, static_cast<std::uint64_t>(position - viewBase)));
    position -= k;
    return k;
}

}  // namespace GFXStream
