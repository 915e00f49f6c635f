// Writes a file through a ring buffer of 128 KiB.
//
// Bytes gather in the ring and reach the file when a write finds no room for
// them, on Flush and on Close; a block too large for the ring goes to the
// file directly, after the pending bytes, so the file always receives the
// bytes in the order they were written. Every byte that reaches the file
// leaves the pending count at once: after a refused write the bytes already
// stored are never stored again and the rest stay pending.
//
// Two ways to begin:
//  - Open(name, truncate): the file itself, emptied or appended to; the
//    stream closes it.
//  - Attach(file): a file someone else opened and closes (the new file of a
//    Files::ReplacementFile); the stream only writes to it and lets go of it
//    on Close or Discard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "files/FileHandle.h"
#include "files/FileSystem.h"
#include "gfxstream/OutputStream.h"

namespace GFXStream {

class FileOutputStream : public OutputStream {
  public:
    static constexpr std::uint32_t kRingSize = 131072;

    FileOutputStream() = default;
    FileOutputStream(const FileOutputStream&) = delete;
    FileOutputStream& operator=(const FileOutputStream&) = delete;
    ~FileOutputStream() override;

    bool Open(const char* fileName, bool truncate);
    // Writes to `file`, which stays its opener's to close.
    bool Attach(Files::FileHandle file);
    // Flushes and closes, or lets go of an attached file. Raises when the
    // flush fails, and the stream then stays open.
    void Close();
    // Closes, or lets go of an attached file, without storing the pending
    // bytes. Never raises.
    void Discard() noexcept;
    void Flush();
    std::uint32_t FreeSpace();

    bool IsOpen() const { return fileHandle != Files::kInvalidFileHandle; }
    std::uint32_t PendingCount() const { return pendingCount; }
    // The bytes that reached the file since it was opened or attached.
    std::uint64_t Stored() const { return stored; }

    void WriteByte(std::uint8_t value) override;
    void WriteWord(std::uint16_t value) override;
    void WriteDword(std::uint32_t value) override;
    void Write(const void* buffer, std::uint32_t n) override;
    // Blocks that together fill less than the ring are written into it as
    // Write would; more go, after the pending bytes and in the same calls,
    // straight from the caller's memory in as few system calls as the
    // system allows.
    void WriteGathered(const std::span<const std::uint8_t>* blocks, std::size_t count) override;
    // From a PositionalFileInputStream, at least a ring's worth goes from
    // file to file inside the system, after the pending bytes; where the
    // system cannot copy between the two files, and from any other source,
    // the bytes pass through memory as OutputStream::CopyFrom passes them.
    void CopyFrom(ByteRangeInputStream& source, std::uint64_t offset, std::uint64_t n) override;

  protected:
    // The two places where the stream meets the system, so that tests can
    // count writes and refuse or shorten them.
    virtual std::int64_t SystemWrite(const std::uint8_t* data, std::size_t n);
    virtual std::uint8_t* AllocateRing();
    virtual std::int64_t SystemWriteGathered(const Files::WriteBlock* blocks, std::size_t count);
    virtual std::int64_t SystemCopy(Files::FileHandle from, std::uint64_t offset, std::size_t n);

  private:
    bool EnsureRing();
    std::uint32_t RingFree() const { return ring ? kRingSize - pendingCount : 0; }
    // Where the oldest pending byte lies in the ring; the pending bytes run
    // from there to writePosition, wrapping at the ring's end at most once.
    std::uint32_t OldestPending() const;
    // Stores all n bytes straight to the file, resuming after short writes.
    void StoreDirect(const std::uint8_t* data, std::size_t n);
    void ReleaseRing();
    void CloseHandleOnly();

    Files::FileHandle fileHandle = Files::kInvalidFileHandle;
    std::unique_ptr<std::uint8_t[]> ring;
    std::uint8_t* writePosition = nullptr;
    std::uint32_t pendingCount = 0;
    bool owned = false;  // opened here, and so closed here
    std::uint64_t stored = 0;
};

}  // namespace GFXStream
