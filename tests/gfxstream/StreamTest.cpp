#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codec/WriteTGA.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "support/CodecTestSupport.h"
#include "support/Replacing.h"

using namespace Codec;
using namespace Files;

using GFXStream::Exception;
using GFXStream::FileOutputStream;
using GFXStream::MappedFileInputStream;
using GFXStream::MemoryInputStream;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kRing = FileOutputStream::kRingSize;

Bytes ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& name, const Bytes& content) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

Bytes Pattern(std::size_t n, std::uint32_t seed = 1) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    return out;
}

// Records every system write it is asked for, and on request shortens them,
// refuses one of them, or refuses to give the stream a ring.
class ProbeStream : public FileOutputStream {
  public:
    std::vector<std::size_t> writes;
    long failCall = -1;          // index of the system write to refuse
    std::size_t maxPerCall = 0;  // 0: no limit
    bool refuseRing = false;
    int ringRequests = 0;

  protected:
    std::int64_t SystemWrite(const std::uint8_t* data, std::size_t n) override {
        writes.push_back(n);
        if (static_cast<long>(writes.size()) - 1 == failCall) {
            return -1;
        }
        return FileOutputStream::SystemWrite(data, maxPerCall ? std::min(n, maxPerCall) : n);
    }
    std::int64_t SystemWriteGathered(const Files::WriteBlock* blocks, std::size_t count) override {
        if (maxPerCall == 0) {
            writes.push_back(0);  // one gathered call, whatever it carries
            return FileOutputStream::SystemWriteGathered(blocks, count);
        }
        return SystemWrite(blocks[0].data, blocks[0].size);
    }
    std::uint8_t* AllocateRing() override {
        ++ringRequests;
        return refuseRing ? nullptr : FileOutputStream::AllocateRing();
    }
};

using Sizes = std::vector<std::size_t>;

}  // namespace

TEST(Exception, OwnsItsTextAndPrefixesAtMost190Characters) {
    char local[16];
    std::strcpy(local, "first");
    const Exception e(local);
    std::strcpy(local, "overwritten");
    EXPECT_STREQ(e.message, "first");

    const std::string inner(300, 'x');
    EXPECT_EQ(MessageOf([&] { GFXStream::RaiseWithPrefix("ReadTGA: ", Exception(inner.c_str())); }),
              "ReadTGA: " + inner.substr(0, 190));

    Exception empty("gone");
    std::free(empty.message);
    empty.message = nullptr;
    EXPECT_EQ(MessageOf([&] { GFXStream::RaiseWithPrefix("WriteTGA: ", empty); }),
              std::string("WriteTGA: ") + GFXStream::kNoMessageText);
}

TEST(MemoryInputStream, SingleValuesAreWholeOrRaiseWithoutMoving) {
    const Bytes data = {0x34, 0x12, 0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
    MemoryInputStream in(data.data(), data.size());
    EXPECT_EQ(in.ReadWord(), 0x1234);
    EXPECT_EQ(in.ReadDword(), 1u);
    EXPECT_EQ(MessageOf([&] { in.ReadDword(); }), GFXStream::kUnexpectedEndText);
    EXPECT_EQ(in.Remaining(), 3u);
    EXPECT_EQ(in.ReadWord(), 0xBBAA);
    EXPECT_EQ(in.ReadByte(), 0xCC);
    EXPECT_EQ(MessageOf([&] { in.ReadByte(); }), GFXStream::kUnexpectedEndText);
}

TEST(MemoryInputStream, BlockOperationsReportShortfallByCount) {
    const Bytes data = Pattern(40);
    MemoryInputStream in(data.data(), data.size());
    std::uint8_t buffer[100];
    EXPECT_EQ(in.Skip(10), 10u);
    EXPECT_EQ(in.Read(nullptr, 5), 5u);  // asks nothing of the data
    EXPECT_EQ(in.Read(buffer, 0), 0u);
    EXPECT_EQ(in.Read(buffer, 100), 30u);
    EXPECT_EQ(0, std::memcmp(buffer, data.data() + 10, 30));
    EXPECT_EQ(in.Read(buffer, 1), 0u);
    EXPECT_EQ(in.Skip(1), 0u);
    EXPECT_EQ(in.SkipBack(0, 25), 25u);
    EXPECT_EQ(in.SkipBack(0, 25), 15u);
    EXPECT_EQ(in.SkipBack(0, 1), 0u);
    EXPECT_EQ(in.ReadByte(), data[0]);
}

TEST(MappedFileInputStream, OpensOnlyNonEmptyRegularFilesAndClosesSafely) {
    TempDir dir;
    WriteFile(dir / "one", {0x5A});
    WriteFile(dir / "empty", {});
    MappedFileInputStream in;
    EXPECT_FALSE(in.Open((dir / "missing").c_str()));
    EXPECT_FALSE(in.Open((dir / "empty").c_str()));
    EXPECT_FALSE(in.Open(dir.path().string().c_str()));
    in.Close();
    ASSERT_TRUE(in.Open((dir / "one").c_str()));
    EXPECT_FALSE(in.Open((dir / "empty").c_str()));  // the first file stays
    EXPECT_EQ(in.ReadByte(), 0x5A);
    EXPECT_EQ(MessageOf([&] { in.ReadByte(); }), GFXStream::kUnexpectedEndText);
    in.Close();
    in.Close();
    EXPECT_EQ(in.Remaining(), 0u);  // reads after Close see the end, not freed memory
    EXPECT_EQ(MessageOf([&] { in.ReadByte(); }), GFXStream::kUnexpectedEndText);
}

TEST(MappedFileInputStream, ReadsCorrectlyPastThePagesItHandsBack) {
    TempDir dir;
    const Bytes content = Pattern(20u << 20, 7);  // beyond two release steps
    WriteFile(dir / "big", content);
    MappedFileInputStream in;
    ASSERT_TRUE(in.Open((dir / "big").c_str()));
    Bytes back(content.size());
    for (std::size_t at = 0; at < back.size(); at += 1u << 20) {
        ASSERT_EQ(in.Read(back.data() + at, 1u << 20), 1u << 20);
    }
    EXPECT_TRUE(back == content);
    EXPECT_EQ(in.SkipBack(0, UINT32_MAX), content.size());
    EXPECT_EQ(in.ReadDword(), static_cast<std::uint32_t>(content[0]) |
                                  static_cast<std::uint32_t>(content[1]) << 8 |
                                  static_cast<std::uint32_t>(content[2]) << 16 |
                                  static_cast<std::uint32_t>(content[3]) << 24);
}

// One stream reads files in turn, as a batch worker does: small ones whole,
// into the buffer a larger one left, large ones mapped.
TEST(MappedFileInputStream, ReadsSmallFilesWholeAndLargeOnesMappedInTurn) {
    TempDir dir;
    const std::size_t whole = MappedFileInputStream::kReadWholeUpTo;
    MappedFileInputStream in;
    for (const std::size_t size : Sizes{whole, 1000, whole + (20u << 10), 3}) {
        SCOPED_TRACE(size);
        const Bytes content = Pattern(size, static_cast<std::uint32_t>(size));
        WriteFile(dir / "f", content);
        ASSERT_TRUE(in.Open((dir / "f").c_str()));
        Bytes back(size + 1);
        EXPECT_EQ(in.Read(back.data(), static_cast<std::uint32_t>(back.size())), size);
        back.pop_back();
        EXPECT_TRUE(back == content);
        in.Close();
    }
}

// Made with POSIX calls (a sparse file through ftruncate and pwrite); the
// Windows build has its own version among the Win32 stream tests.
#ifndef _WIN32
TEST(MappedFileInputStream, ReadsFilesOf4GiBAndMore) {
    TempDir dir;
    const std::string name = dir / "sparse";
    const std::uint64_t size = (std::uint64_t{1} << 32) + 6;
    {
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        const std::uint8_t across[4] = {1, 2, 3, 4};  // straddles offset 2^32
        const std::uint8_t tail[2] = {0xEE, 0xFF};
        const bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                        ::pwrite(fd, across, 4, (off_t{1} << 32) - 2) == 4 &&
                        ::pwrite(fd, tail, 2, static_cast<off_t>(size - 2)) == 2;
        ::close(fd);
        if (!ok) {
            GTEST_SKIP() << "no room for a sparse 4 GiB file here";
        }
    }
    MappedFileInputStream in;
    ASSERT_TRUE(in.Open(name.c_str()));
    EXPECT_EQ(in.Size(), size);
    EXPECT_EQ(in.Skip(UINT32_MAX), UINT32_MAX);
    EXPECT_EQ(in.SkipBack(0, 1), 1u);
    EXPECT_EQ(in.ReadDword(), 0x04030201u);
    EXPECT_EQ(in.Remaining(), 4u);
    EXPECT_EQ(in.Skip(2), 2u);
    EXPECT_EQ(in.ReadWord(), 0xFFEE);
}
#endif

// Each case drives a fresh stream and lists the system writes it must cause.
struct RingCase {
    const char* name;
    void (*drive)(ProbeStream&);
    Sizes duringWrites;
    Sizes afterClose;
};

class RingRules : public ::testing::TestWithParam<RingCase> {};

TEST_P(RingRules, FileSeesBytesOnlyWhenTheRingHasNoRoom) {
    TempDir dir;
    ProbeStream out;
    ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
    GetParam().drive(out);
    EXPECT_EQ(out.writes, GetParam().duringWrites);
    out.Close();
    EXPECT_EQ(out.writes, GetParam().afterClose);
}

// Blocks of rows handed over together: after the pending bytes, in order,
// whole, however short the system's writes; few enough to fit the ring go
// into it.
TEST(FileOutputStream, GatheredBlocksReachTheFileInOrder) {
    const Bytes data = Pattern(10 + 3 * 50000);
    for (const std::size_t blockSize : {std::size_t{50000}, std::size_t{100}}) {
        for (const std::size_t maxPerCall :
             {std::size_t{0}, std::size_t{1000}, std::size_t{70000}}) {
            TempDir dir;
            ProbeStream out;
            out.maxPerCall = maxPerCall;
            ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
            out.Write(data.data(), 10);
            std::vector<std::span<const std::uint8_t>> blocks;
            for (std::size_t k = 0; k < 3; ++k) {
                blocks.emplace_back(data.data() + 10 + k * blockSize, blockSize);
                blocks.emplace_back();  // an empty block changes nothing
            }
            out.WriteGathered(blocks.data(), blocks.size());
            EXPECT_EQ(out.writes.empty(), blockSize == 100);
#ifndef _WIN32
            // The ring's 10 bytes lead the one call (Windows has no gathered
            // write for buffered files: a call a block there).
            if (blockSize != 100 && maxPerCall == 0) {
                EXPECT_EQ(out.writes.size(), 1u);
            }
#endif
            out.Close();
            const Bytes expected(data.begin(), data.begin() + 10 + 3 * std::ptrdiff_t(blockSize));
            EXPECT_EQ(ReadFile(dir / "out"), expected) << blockSize << " " << maxPerCall;
        }
    }
}

namespace {
const Bytes kBlock = Pattern(kRing + 1);
void Put(ProbeStream& s, std::uint32_t n) {
    s.Write(kBlock.data(), n);
}
}  // namespace

INSTANTIATE_TEST_SUITE_P(Stream, RingRules,
                         ::testing::Values(RingCase{"FullRingThenOneByte",
                                                    [](ProbeStream& s) {
                                                        for (std::uint32_t i = 0; i < kRing; ++i) {
                                                            s.WriteByte(1);
                                                        }
                                                        EXPECT_TRUE(s.writes.empty());
                                                        s.WriteByte(2);
                                                    },
                                                    {kRing},
                                                    {kRing, 1}},
                                           RingCase{"WholeRingBlockWaits",
                                                    [](ProbeStream& s) { Put(s, kRing); },
                                                    {},
                                                    {kRing}},
                                           RingCase{"BlockBeyondRingGoesDirect",
                                                    [](ProbeStream& s) { Put(s, kRing + 1); },
                                                    {kRing + 1},
                                                    {kRing + 1}},
                                           RingCase{"PendingThenWholeRingBlock",
                                                    [](ProbeStream& s) {
                                                        Put(s, 10);
                                                        Put(s, kRing);
                                                    },
                                                    {10, kRing},
                                                    {10, kRing}},
                                           RingCase{"NoRoomFlushesThenHolds",
                                                    [](ProbeStream& s) {
                                                        Put(s, kRing - 72);
                                                        Put(s, 100);
                                                        EXPECT_EQ(s.PendingCount(), 100u);
                                                    },
                                                    {kRing - 72},
                                                    {kRing - 72, 100}},
                                           RingCase{"WordAfterAlmostFullRing",
                                                    [](ProbeStream& s) {
                                                        Put(s, kRing - 1);
                                                        s.WriteWord(0x1234);
                                                        EXPECT_EQ(s.PendingCount(), 2u);
                                                    },
                                                    {kRing - 1},
                                                    {kRing - 1, 2}},
                                           RingCase{"EmptyWritesAllocateNothing",
                                                    [](ProbeStream& s) {
                                                        s.Write(kBlock.data(), 0);
                                                        s.Write(nullptr, 5);
                                                        EXPECT_EQ(s.ringRequests, 0);
                                                    },
                                                    {},
                                                    {}}),
                         ByName());

TEST(FileOutputStream, StoresValuesLittleEndianAndWithoutRingOneWriteEach) {
    for (const bool refuseRing : {false, true}) {
        TempDir dir;
        ProbeStream out;
        out.refuseRing = refuseRing;
        ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
        out.WriteByte(0xAB);
        out.WriteWord(0x1234);
        out.WriteDword(1);
        out.Write("xyz", 3);
        out.Close();
        EXPECT_EQ(ReadFile(dir / "out"), (Bytes{0xAB, 0x34, 0x12, 1, 0, 0, 0, 'x', 'y', 'z'}));
        EXPECT_EQ(out.writes, (refuseRing ? Sizes{1, 2, 4, 3} : Sizes{10}));
    }
}

TEST(FileOutputStream, ShortWritesAreResumedInOrder) {
    TempDir dir;
    ProbeStream out;
    out.maxPerCall = 4097;
    ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
    const Bytes data = Pattern(3 * kRing + 123, 3);
    out.Write(data.data(), 1000);                      // into the ring
    out.Write(data.data() + 1000, kRing + 5000);       // flush, then direct
    out.Write(data.data() + kRing + 6000, kRing - 1);  // ring
    for (std::size_t i = 2 * kRing + 5999; i < data.size(); ++i) {
        out.WriteByte(data[i]);  // flush of a full ring on the way
    }
    out.Close();
    EXPECT_TRUE(ReadFile(dir / "out") == data);
}

TEST(FileOutputStream, RefusedFlushLosesAndRepeatsNothing) {
    TempDir dir;
    ProbeStream out;
    ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
    const Bytes data = Pattern(kRing + 100, 5);
    out.Write(data.data(), kRing - 72);
    // The flush stores 100000 bytes, then the system refuses the rest.
    out.maxPerCall = 100000;
    out.failCall = 1;
    EXPECT_EQ(MessageOf([&] { out.Write(data.data(), 100); }), GFXStream::kUnableToWriteText);
    EXPECT_EQ(out.PendingCount(), kRing - 72 - 100000);
    out.maxPerCall = 0;
    // New bytes go after the pending ones and wrap at the ring's end.
    out.Write(data.data() + kRing - 72, 172);
    out.Close();
    EXPECT_TRUE(ReadFile(dir / "out") == data);
    EXPECT_EQ(out.writes, (Sizes{kRing - 72, kRing - 72 - 100000, 31072, 100}));
}

TEST(FileOutputStream, RefusedCloseKeepsStreamOpenWithItsBytes) {
    TempDir dir;
    ProbeStream out;
    ASSERT_TRUE(out.Open((dir / "out").c_str(), true));
    out.Write("abc", 3);
    out.failCall = 0;
    EXPECT_EQ(MessageOf([&] { out.Close(); }), GFXStream::kUnableToWriteText);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(out.PendingCount(), 3u);
    out.Close();
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(ReadFile(dir / "out"), (Bytes{'a', 'b', 'c'}));
}

// Under wine the Linux device is reached through drive Z:, and writing to it
// fails with ERROR_DISK_FULL as a full disk would.
#ifdef _WIN32
constexpr const char* kFullDevice = "Z:/dev/full";
#else
constexpr const char* kFullDevice = "/dev/full";
#endif

TEST(FileOutputStream, DeviceWithNoSpaceRefusesEveryWayOfStoring) {
    FileOutputStream direct;
    ASSERT_TRUE(direct.Open(kFullDevice, false));
    EXPECT_EQ(MessageOf([&] { direct.Write(kBlock.data(), kRing + 1); }),
              GFXStream::kUnableToWriteText);
    direct.WriteByte(1);
    EXPECT_EQ(MessageOf([&] { direct.Close(); }), GFXStream::kUnableToWriteText);
    direct.Discard();
    EXPECT_FALSE(direct.IsOpen());

    FileOutputStream viaCodec;
    ASSERT_TRUE(viaCodec.Open(kFullDevice, false));
    const Image image(ImageDesc{.width = 1024, .height = 256, .bitsPerPixel = 24});
    EXPECT_EQ(MessageOf([&] { WriteTGA(viaCodec, image, false); }),
              "WriteTGA: Unable to write to file");
    viaCodec.Discard();
}

TEST(FileOutputStream, OpenCreatesEmptiesOrAppends) {
    TempDir dir;
    FileOutputStream out;
    EXPECT_FALSE(out.Open((dir / "no/such/folder").c_str(), true));
    for (const bool truncate : {true, false}) {
        const std::string name = dir / (truncate ? "t" : "a");
        ASSERT_TRUE(out.Open(name.c_str(), truncate));  // created
        out.Write("12", 2);
        out.Close();
        ASSERT_TRUE(out.Open(name.c_str(), truncate));
        EXPECT_FALSE(out.Open((dir / "other").c_str(), true));
        out.Write("3", 1);
        EXPECT_EQ(ReadFile(name).size(), truncate ? 0u : 2u);  // still in the ring
        out.Close();
        EXPECT_EQ(ReadFile(name), truncate ? Bytes{0x33} : (Bytes{0x31, 0x32, 0x33}));
    }
    EXPECT_FALSE(fs::exists(dir / "other"));
}

namespace {
std::size_t EntriesIn(const fs::path& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}
}  // namespace

TEST(ReplacementFile, ReplacementAppearsOnlyOnCommit) {
    TempDir dir;
    const std::string target = dir / "image.tga";
    const Bytes original = Pattern(5000, 9);
    WriteFile(target, original);
#ifndef _WIN32  // Windows keeps no permission bits, only the folder's ACL
    ::chmod(target.c_str(), 0640);
#endif

    for (const int ending : {0, 1}) {  // Discard, then dropped without Commit
        Replacing replacing;
        ASSERT_TRUE(replacing.Open(target.c_str()));
        replacing.out.Write("new", 3);
        replacing.out.Flush();
        // The new file has no name at all where the file system allows it.
        EXPECT_LE(EntriesIn(dir.path()), 2u);
        if (ending == 0) {
            replacing.Discard();
            EXPECT_EQ(EntriesIn(dir.path()), 1u);
        }
    }
    EXPECT_TRUE(ReadFile(target) == original);
    EXPECT_EQ(EntriesIn(dir.path()), 1u);

    Replacing replacing;
    ASSERT_TRUE(replacing.Open(target.c_str()));
    replacing.out.Write("new", 3);
    EXPECT_TRUE(ReadFile(target) == original);
    replacing.Commit();
    EXPECT_EQ(ReadFile(target), (Bytes{'n', 'e', 'w'}));
#ifndef _WIN32
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

// Symbolic links need a privilege on Windows that a test cannot count on.
#ifndef _WIN32
TEST(ReplacementFile, ReplacementThroughSymlinkReplacesItsTarget) {
    TempDir dir;
    fs::create_directories(dir.path() / "real");
    const std::string real = dir / "real/image.tga";
    const std::string link = dir / "link.tga";
    WriteFile(real, {'o', 'l', 'd'});
    fs::create_symlink(real, link);
    Replacing replacing;
    ASSERT_TRUE(replacing.Open(link.c_str()));
    replacing.out.Write("new", 3);
    replacing.Commit();
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(real), (Bytes{'n', 'e', 'w'}));
    EXPECT_EQ(EntriesIn(dir.path() / "real"), 1u);

    ASSERT_TRUE(replacing.Open((dir / "fresh.tga").c_str()));  // no target yet
    replacing.out.Write("x", 1);
    replacing.Commit();
    EXPECT_EQ(ReadFile(dir / "fresh.tga"), Bytes{'x'});
}
#endif
