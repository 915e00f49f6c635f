// A sequence of stream operations decoded from the input, each checked
// against a trivial model of the stream contract.
//
// Input stream: a MemoryInputStream over a prefix of the input is driven by
// the rest, and a vector plus an offset says what every read must answer.
//
// Output stream: a FileOutputStream whose two seams are replaced, so that
// the "file" is a vector and the fuzzer decides when the system refuses a
// write, shortens it, or has no memory for the ring. The model is the
// sequence of bytes the stream has accepted; at every step the file must be
// a prefix of it and the file plus the pending bytes must be all of it.
// Nothing may be written twice, lost or reordered.
#include <algorithm>
#include <cstring>
#include <vector>

#include "FuzzTarget.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MemoryInputStream.h"

using GFXStream::Exception;
using GFXStream::FileOutputStream;

namespace {

// Takes the operation bytes one at a time; answers 0 once they run out.
class OpReader {
  public:
    OpReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Done() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint32_t Word() { return Byte() | static_cast<std::uint32_t>(Byte()) << 8; }
    std::uint32_t Count(std::uint32_t limit) {
        const std::uint32_t raw = Byte() | static_cast<std::uint32_t>(Byte()) << 8 |
                                  static_cast<std::uint32_t>(Byte()) << 16;
        return raw % (limit + 1);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool IsEndOfInput(const Exception& e) {
    return e.message != nullptr && std::strcmp(e.message, GFXStream::kUnexpectedEndText) == 0;
}

bool IsWriteRefused(const Exception& e) {
    return e.message != nullptr && std::strcmp(e.message, GFXStream::kUnableToWriteText) == 0;
}

void RunInputStream(OpReader& ops, const std::uint8_t* bytes, std::size_t size) {
    GFXStream::MemoryInputStream stream(bytes, size);
    std::size_t model = 0;  // offset of the next byte
    const auto left = [&] { return size - model; };
    // A single-value read either gives the next `width` bytes little-endian
    // and moves past them, or raises at the end and does not move.
    const auto expectValue = [&](std::uint32_t got, std::size_t width) {
        FUZZ_REQUIRE(left() >= width);
        std::uint32_t want = 0;
        for (std::size_t i = 0; i < width; ++i) {
            want |= static_cast<std::uint32_t>(bytes[model + i]) << (8 * i);
        }
        FUZZ_REQUIRE(got == want);
        model += width;
    };
    const auto expectEnd = [&](const Exception& e, std::size_t width) {
        FUZZ_REQUIRE(IsEndOfInput(e));
        FUZZ_REQUIRE(left() < width);
    };
    for (int step = 0; step < 4096 && !ops.Done(); ++step) {
        const std::uint8_t op = ops.Byte();
        switch (op % 8) {
            case 0:
                try {
                    expectValue(stream.ReadByte(), 1);
                } catch (const Exception& e) {
                    expectEnd(e, 1);
                }
                break;
            case 1:
                try {
                    expectValue(stream.ReadWord(), 2);
                } catch (const Exception& e) {
                    expectEnd(e, 2);
                }
                break;
            case 2:
                try {
                    expectValue(stream.ReadDword(), 4);
                } catch (const Exception& e) {
                    expectEnd(e, 4);
                }
                break;
            case 3: {
                const std::uint32_t n = ops.Count(static_cast<std::uint32_t>(size) + 16);
                // Exactly n bytes of room, so a copy past them is caught.
                std::vector<std::uint8_t> buffer(n);
                const std::uint32_t got = stream.Read(buffer.data(), n);
                FUZZ_REQUIRE(got == std::min<std::size_t>(n, left()));
                FUZZ_REQUIRE(got == 0 || std::memcmp(buffer.data(), bytes + model, got) == 0);
                model += got;
                break;
            }
            case 4: {
                const std::uint32_t n = ops.Count(64);
                FUZZ_REQUIRE(stream.Read(nullptr, n) == n);  // a null buffer moves nothing
                break;
            }
            case 5: {
                const std::uint32_t n = (op & 0x80)
                                            ? UINT32_MAX - ops.Byte()
                                            : ops.Count(static_cast<std::uint32_t>(size) + 16);
                const std::uint32_t got = stream.Skip(n);
                FUZZ_REQUIRE(got == std::min<std::size_t>(n, left()));
                model += got;
                break;
            }
            case 6: {
                const std::uint32_t n = (op & 0x80)
                                            ? UINT32_MAX - ops.Byte()
                                            : ops.Count(static_cast<std::uint32_t>(size) + 16);
                const auto arg = static_cast<std::int32_t>(ops.Word()) - 32768;
                const std::uint32_t got = stream.SkipBack(arg, n);
                FUZZ_REQUIRE(got == std::min<std::size_t>(n, model));
                model -= got;
                break;
            }
            default:
                break;
        }
        FUZZ_REQUIRE(stream.Remaining() == left());
        FUZZ_REQUIRE(stream.Offset() == model);
    }
}

// The stream under test, with the system replaced by a vector and a plan of
// failures that the operations set.
class ScriptedFileOutputStream : public FileOutputStream {
  public:
    std::vector<std::uint8_t> file;
    bool refuseWrites = false;
    std::size_t shortWriteLimit = 0;  // 0: writes are whole
    std::size_t diskSpace = SIZE_MAX;
    bool ringAllocationFails = false;
    std::size_t systemWrites = 0;

  protected:
    std::int64_t SystemWrite(const std::uint8_t* data, std::size_t n) override {
        FUZZ_REQUIRE(n > 0);
        ++systemWrites;
        if (refuseWrites || file.size() >= diskSpace) {
            return -1;
        }
        std::size_t k = std::min(n, diskSpace - file.size());
        // Short writes, but only so many: a script of one-byte writes over
        // megabytes would test nothing new, only the fuzzer's patience.
        if (shortWriteLimit != 0 && systemWrites < 20000) {
            k = std::min(k, shortWriteLimit);
        }
        file.insert(file.end(), data, data + k);
        return static_cast<std::int64_t>(k);
    }
    std::uint8_t* AllocateRing() override {
        return ringAllocationFails ? nullptr : FileOutputStream::AllocateRing();
    }
};

// Bytes that differ from their neighbours and from their position in any
// earlier block, so that a duplicate, a gap or a swap shows in the file.
std::vector<std::uint8_t> Pattern(std::uint32_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> block(n);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& b : block) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return block;
}

void RunOutputStream(OpReader& ops) {
    constexpr std::uint32_t kRing = FileOutputStream::kRingSize;
    ScriptedFileOutputStream stream;
    FUZZ_REQUIRE(stream.Open("/dev/null", false));  // the seams never write to it
    std::vector<std::uint8_t> accepted;
    std::uint32_t seed = 0;
    std::size_t volume = 0;

    // The file only ever grows, so each check compares only what reached
    // it since the last one.
    std::size_t checked = 0;
    const auto consistent = [&] {
        FUZZ_REQUIRE(stream.file.size() <= accepted.size());
        const auto from = static_cast<std::ptrdiff_t>(checked);
        FUZZ_REQUIRE(
            std::equal(stream.file.begin() + from, stream.file.end(), accepted.begin() + from));
        checked = stream.file.size();
        FUZZ_REQUIRE(stream.file.size() + stream.PendingCount() == accepted.size());
    };
    // Runs one write; on success its bytes are accepted. On a refusal the
    // bytes already stored stay stored, the pending ones stay pending, and a
    // block that went straight to the file may have reached it in part.
    const auto attempt = [&](const std::vector<std::uint8_t>& bytes, auto&& write) {
        try {
            write();
            accepted.insert(accepted.end(), bytes.begin(), bytes.end());
        } catch (const Exception& e) {
            FUZZ_REQUIRE(IsWriteRefused(e));
            if (stream.file.size() > accepted.size()) {
                FUZZ_REQUIRE(stream.PendingCount() == 0);
                const std::size_t extra = stream.file.size() - accepted.size();
                FUZZ_REQUIRE(extra < bytes.size());
                accepted.insert(accepted.end(), bytes.begin(),
                                bytes.begin() + static_cast<std::ptrdiff_t>(extra));
            }
        }
        consistent();
    };

    for (int step = 0; step < 512 && !ops.Done() && volume < (std::size_t{2} << 20); ++step) {
        const std::uint8_t op = ops.Byte();
        switch (op % 12) {
            case 0: {
                const auto value = static_cast<std::uint8_t>(ops.Byte());
                attempt({value}, [&] { stream.WriteByte(value); });
                break;
            }
            case 1: {
                const auto value = static_cast<std::uint16_t>(ops.Word());
                attempt({static_cast<std::uint8_t>(value & 0xFF),
                         static_cast<std::uint8_t>(value >> 8)},
                        [&] { stream.WriteWord(value); });
                break;
            }
            case 2: {
                const std::uint32_t value = ops.Word() | ops.Word() << 16;
                attempt({static_cast<std::uint8_t>(value & 0xFF),
                         static_cast<std::uint8_t>((value >> 8) & 0xFF),
                         static_cast<std::uint8_t>((value >> 16) & 0xFF),
                         static_cast<std::uint8_t>(value >> 24)},
                        [&] { stream.WriteDword(value); });
                break;
            }
            case 3: {
                // Sizes around the ring's size matter most: below, at and
                // above it, and whatever fills or wraps what is pending.
                static const std::uint32_t kEdges[] = {0, 1, 2, 3, 4, kRing - 1, kRing, kRing + 1};
                const std::uint8_t pick = ops.Byte();
                std::uint32_t n = 0;
                if (pick < 64) {
                    n = kEdges[pick % 8];
                } else if (pick < 128) {
                    n = kRing - stream.PendingCount() + (pick % 5) - 2u;
                } else {
                    n = ops.Count(kRing + 1000);
                }
                n = std::min(n, kRing + 1000);
                const std::vector<std::uint8_t> block = Pattern(n, ++seed);
                volume += n;
                attempt(block, [&] { stream.Write(block.data(), n); });
                break;
            }
            case 4:
                stream.Write(nullptr, ops.Word());  // writes nothing, raises nothing
                consistent();
                break;
            case 5:
                try {
                    stream.Flush();
                    FUZZ_REQUIRE(stream.PendingCount() == 0);
                } catch (const Exception& e) {
                    FUZZ_REQUIRE(IsWriteRefused(e));
                }
                consistent();
                break;
            case 6: {
                const std::uint32_t free = stream.FreeSpace();
                FUZZ_REQUIRE(free == 0
                                 ? stream.PendingCount() == 0 || stream.PendingCount() == kRing
                                 : free + stream.PendingCount() == kRing);
                break;
            }
            case 7:
                stream.refuseWrites = (op & 0x10) != 0;
                break;
            case 8:
                stream.shortWriteLimit = (op & 0x10) ? 1 + ops.Count(kRing) : 0;
                break;
            case 9:
                stream.diskSpace =
                    (op & 0x10) ? stream.file.size() + ops.Count(kRing * 2) : SIZE_MAX;
                break;
            case 10:
                stream.ringAllocationFails = (op & 0x10) != 0;
                break;
            default:
                // Close stores what is pending; when that fails the stream
                // stays open with its bytes. A closed stream is opened again
                // on a fresh, empty file.
                try {
                    stream.Close();
                    FUZZ_REQUIRE(!stream.IsOpen());
                    FUZZ_REQUIRE(stream.file == accepted);
                    stream.file.clear();
                    accepted.clear();
                    checked = 0;
                    FUZZ_REQUIRE(stream.Open("/dev/null", false));
                } catch (const Exception& e) {
                    FUZZ_REQUIRE(IsWriteRefused(e));
                    FUZZ_REQUIRE(stream.IsOpen());
                    consistent();
                }
                break;
        }
    }
    // With the system willing again, everything accepted reaches the file,
    // once and in order.
    stream.refuseWrites = false;
    stream.diskSpace = SIZE_MAX;
    stream.Flush();
    FUZZ_REQUIRE(stream.file == accepted);
    stream.Close();
    FUZZ_REQUIRE(!stream.IsOpen());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    if ((data[0] & 1) == 0) {
        // The first two bytes after the selector give the length of the
        // stream's bytes; the operations follow them.
        OpReader head(data + 1, size - 1);
        const std::size_t wanted = head.Word();
        const std::size_t start = std::min<std::size_t>(size, 3);
        const std::size_t length = std::min(wanted, size - start);
        // A heap copy of exactly `length` bytes, so that a read past its
        // end is caught even when more input follows.
        const std::vector<std::uint8_t> bytes(data + start, data + start + length);
        OpReader ops(data + start + length, size - start - length);
        RunInputStream(ops, bytes.data(), bytes.size());
    } else {
        OpReader ops(data + 1, size - 1);
        RunOutputStream(ops);
    }
    return 0;
}
