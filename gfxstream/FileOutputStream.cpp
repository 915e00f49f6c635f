#include "gfxstream/FileOutputStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "files/FileCopy.h"
#include "gfxstream/Exception.h"
#include "gfxstream/PositionalFileInputStream.h"

namespace GFXStream {

namespace {

// A write that fails because its source bytes could not be read (EFAULT)
// wrote straight from a mapped file that was cut short meanwhile: the fault
// is the file's change, not the destination's.
[[noreturn]] void ThrowWriteFailure() {
    if (errno == EFAULT) {
        errno = 0;
        throw Exception(kFileChangedText);
    }
    throw Exception(kUnableToWriteText);
}

}  // namespace

FileOutputStream::~FileOutputStream() {
    try {
        Close();
    } catch (const Exception&) {
        Discard();  // nowhere to report it; the pending bytes are lost
    }
}

bool FileOutputStream::Open(const char* fileName, bool truncate) {
    if (IsOpen()) {
        return false;
    }
    fileHandle = Files::OpenForWriting(fileName, truncate);
    owned = true;
    stored = 0;
    return IsOpen();
}

bool FileOutputStream::Attach(Files::FileHandle file) {
    if (IsOpen() || file == Files::kInvalidFileHandle) {
        return false;
    }
    fileHandle = file;
    owned = false;
    stored = 0;
    return true;
}

std::int64_t FileOutputStream::SystemWrite(const std::uint8_t* data, std::size_t n) {
    return Files::WriteSome(fileHandle, data, n);
}

std::uint8_t* FileOutputStream::AllocateRing() {
    return new (std::nothrow) std::uint8_t[kRingSize];
}

bool FileOutputStream::EnsureRing() {
    if (!ring) {
        ring.reset(AllocateRing());
        writePosition = ring.get();
        pendingCount = 0;
    }
    return static_cast<bool>(ring);
}

void FileOutputStream::StoreDirect(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const std::int64_t written = IsOpen() ? SystemWrite(data, n) : -1;
        if (written <= 0) {
            ThrowWriteFailure();
        }
        data += written;
        n -= static_cast<std::size_t>(written);
        stored += static_cast<std::uint64_t>(written);
    }
}

std::uint32_t FileOutputStream::FreeSpace() {
    return EnsureRing() ? RingFree() : 0;
}

std::uint32_t FileOutputStream::OldestPending() const {
    const auto before = static_cast<std::uint32_t>(writePosition - ring.get());
    return before >= pendingCount ? before - pendingCount : before + kRingSize - pendingCount;
}

void FileOutputStream::Flush() {
    while (pendingCount != 0) {
        std::uint8_t* const ringStart = ring.get();
        const std::uint32_t startOffset = OldestPending();
        const std::uint32_t contiguous = std::min(pendingCount, kRingSize - startOffset);
        const std::int64_t written =
            IsOpen() ? SystemWrite(ringStart + startOffset, contiguous) : -1;
        if (written <= 0) {
            throw Exception(kUnableToWriteText);
        }
        pendingCount -= static_cast<std::uint32_t>(written);
        stored += static_cast<std::uint64_t>(written);
    }
    if (ring) {
        writePosition = ring.get();
    }
}

void FileOutputStream::WriteByte(std::uint8_t value) {
    EnsureRing();
    if (ring && pendingCount == kRingSize) {
        Flush();
    }
    if (!EnsureRing()) {
        StoreDirect(&value, 1);
        return;
    }
    *writePosition++ = value;
    if (writePosition == ring.get() + kRingSize) {
        writePosition = ring.get();
    }
    ++pendingCount;
}

void FileOutputStream::WriteWord(std::uint16_t value) {
    const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value & 0xFF),
                                   static_cast<std::uint8_t>(value >> 8)};
    EnsureRing();
    if (ring && RingFree() < 2) {
        Flush();
    }
    if (!EnsureRing()) {
        StoreDirect(bytes, 2);
        return;
    }
    std::uint8_t* const ringEnd = ring.get() + kRingSize;
    *writePosition++ = bytes[0];
    if (writePosition == ringEnd) {
        writePosition = ring.get();
    }
    *writePosition++ = bytes[1];
    if (writePosition == ringEnd) {
        writePosition = ring.get();
    }
    pendingCount += 2;
}

void FileOutputStream::WriteDword(std::uint32_t value) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value & 0xFF), static_cast<std::uint8_t>((value >> 8) & 0xFF),
        static_cast<std::uint8_t>((value >> 16) & 0xFF), static_cast<std::uint8_t>(value >> 24)};
    Write(bytes, 4);
}

void FileOutputStream::Write(const void* buffer, std::uint32_t n) {
    if (n == 0 || buffer == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (n < kRingSize && n > FreeSpace()) {
        Flush();
    }
    EnsureRing();
    if (n > RingFree()) {
        Flush();
        StoreDirect(bytes, n);
        return;
    }
    std::uint8_t* const ringEnd = ring.get() + kRingSize;
    const std::uint32_t first =
        std::min<std::uint32_t>(n, static_cast<std::uint32_t>(ringEnd - writePosition));
    std::memcpy(writePosition, bytes, first);
    writePosition += first;
    if (writePosition == ringEnd) {
        writePosition = ring.get();
    }
    if (first < n) {
        std::memcpy(writePosition, bytes + first, n - first);
        writePosition += n - first;
    }
    pendingCount += n;
}

std::int64_t FileOutputStream::SystemWriteGathered(const Files::WriteBlock* blocks,
                                                   std::size_t count) {
    return Files::WriteSomeGathered(fileHandle, blocks, count);
}

void FileOutputStream::WriteGathered(const std::span<const std::uint8_t>* blocks,
                                     std::size_t count) {
    constexpr std::size_t kMostBlocks = 64;
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        total += blocks[i].size();
    }
    if (total < kRingSize || count > kMostBlocks) {
        OutputStream::WriteGathered(blocks, count);
        return;
    }
    // The ring's pending bytes (a header, say) lead the same calls, oldest
    // first: up to the ring's end, then from its start.
    Files::WriteBlock pending[kMostBlocks + 2];
    std::size_t gathered = 0;
    std::uint32_t ringLeft = pendingCount;
    if (pendingCount != 0) {
        std::uint8_t* const ringStart = ring.get();
        const std::uint32_t startOffset = OldestPending();
        const std::uint32_t contiguous = std::min(pendingCount, kRingSize - startOffset);
        pending[gathered++] = {ringStart + startOffset, contiguous};
        if (contiguous < pendingCount) {
            pending[gathered++] = {ringStart, pendingCount - contiguous};
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        pending[gathered++] = {blocks[i].data(), blocks[i].size()};
    }
    count = gathered;
    std::size_t first = 0;
    while (first < count) {
        const std::int64_t written =
            IsOpen() ? SystemWriteGathered(pending + first, count - first) : -1;
        if (written <= 0) {
            if (ringLeft != 0) {
                throw Exception(kUnableToWriteText);  // as a flush of the ring says
            }
            ThrowWriteFailure();
        }
        stored += static_cast<std::uint64_t>(written);
        // What reached the file of the ring's bytes leaves them at once.
        const auto fromRing = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(ringLeft, static_cast<std::uint64_t>(written)));
        ringLeft -= fromRing;
        pendingCount -= fromRing;
        if (ringLeft == 0 && ring) {
            writePosition = ring.get();
        }
        // Step past what reached the file: whole blocks, then part of one.
        auto left = static_cast<std::size_t>(written);
        while (first < count && left >= pending[first].size) {
            left -= pending[first].size;
            ++first;
        }
        if (left != 0) {
            pending[first].data += left;
            pending[first].size -= left;
        }
    }
}

std::int64_t FileOutputStream::SystemCopy(Files::FileHandle from, std::uint64_t offset,
                                          std::size_t n) {
    return Files::CopySome(from, offset, fileHandle, n);
}

void FileOutputStream::CopyFrom(ByteRangeInputStream& source, std::uint64_t offset,
                                std::uint64_t n) {
    // Each call copies a bounded stretch, so that one call never stalls on
    // the page cache for the whole file.
    constexpr std::uint64_t kMostPerCall = std::uint64_t{64} << 20;
    const auto* file = dynamic_cast<const PositionalFileInputStream*>(&source);
    if (file != nullptr && n >= kRingSize) {
        Flush();
        while (n > 0) {
            const std::int64_t copied =
                IsOpen() ? SystemCopy(file->File(), offset,
                                      static_cast<std::size_t>(std::min(n, kMostPerCall)))
                         : -1;
            if (copied == Files::kCopyNotSupported || copied == 0) {
                // The rest through memory: a source that ended early says
                // so there, in its own words.
                break;
            }
            if (copied < 0) {
                throw Exception(kUnableToWriteText);
            }
            offset += static_cast<std::uint64_t>(copied);
            n -= static_cast<std::uint64_t>(copied);
            stored += static_cast<std::uint64_t>(copied);
        }
    }
    OutputStream::CopyFrom(source, offset, n);
}

void FileOutputStream::ReleaseRing() {
    ring.reset();
    writePosition = nullptr;
    pendingCount = 0;
}

void FileOutputStream::CloseHandleOnly() {
    if (IsOpen() && owned) {
        Files::CloseFile(fileHandle);
    }
    fileHandle = Files::kInvalidFileHandle;
    owned = false;
}

void FileOutputStream::Close() {
    if (ring) {
        Flush();
    }
    ReleaseRing();
    CloseHandleOnly();
}

void FileOutputStream::Discard() noexcept {
    ReleaseRing();
    CloseHandleOnly();
}

}  // namespace GFXStream
