// Real failures of the system while tessary-cli converts a batch: a full
// device, a file size limit, a folder the user may not write, a destination
// that is a file, sources that are missing, vanish or shrink, and a process
// killed in the middle of replacing a file. In every case the log names the
// file that failed and why, the other files convert, the exit status says a
// file failed, an existing destination keeps its bytes, and no temporary
// file is left behind.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csetjmp>
#include <cstring>
#include <filesystem>
#include <thread>

#include "HardeningSupport.h"
#include "batch/ConvertJobs.h"
#include "codec/ReadTGA.h"
#include "codec/WriteTGA.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "gfxstream/MemoryInputStream.h"
#include "support/Jobs.h"
#include "support/MessageOf.h"

using namespace Codec;
using namespace Batch;

namespace fs = std::filesystem;

namespace {

constexpr int kSomeFailed = 1;

// A source folder with two small files and one large one, and a destination
// folder where the large one already has an older version.
class Batch {
  public:
    Batch() {
        fs::create_directories(src);
        fs::create_directories(dst);
        for (const char* name : {"a.tga", "b.tga"}) {
            TgaSpec spec;
            spec.width = 16;
            spec.height = 8;
            spec.seed = static_cast<std::uint32_t>(name[0]);
            WriteBytes(src + "/" + name, MakeTga(spec));
        }
        TgaSpec big;
        big.width = 512;
        big.height = 512;  // 768 KiB of pixels once written
        WriteBytes(src + "/big.tga", MakeTga(big));
        TgaSpec old;
        old.seed = 99;
        oldBig = MakeTga(old);
    }

    void PlaceOldDestination(const std::string& folder) const {
        WriteBytes(folder + "/big.tga", oldBig);
    }

    // The log line of `name`: the first line that begins with it.
    // The line of the file whose name, as given or at the end of the path
    // given, is `name`.
    static std::string LineOf(const ProcessResult& result, const std::string& name) {
        for (const std::string& line : Lines(result.output)) {
            const std::size_t at = line.find(name);
            const std::size_t after = at + name.size();
            if (at != std::string::npos && (at == 0 || line[at - 1] == '/') &&
                (line.compare(after, 2, "->") == 0 || line.compare(after, 1, ":") == 0 ||
                 line.compare(after, 5, "Error") == 0)) {
                return line;
            }
        }
        return "(no line for " + name + ")";
    }

    // `failed` failed with `why`; every other file converted; `folder` holds
    // the old destination of big.tga unchanged and no temporary file.
    void ExpectOnlyFailed(const ProcessResult& result, const std::string& failed,
                          const std::string& why, const std::string& folder) const {
        SCOPED_TRACE(result.output);
        EXPECT_EQ(result.exitStatus, kSomeFailed);
        EXPECT_NE(LineOf(result, failed).find(why), std::string::npos) << LineOf(result, failed);
        for (const char* name : {"a.tga", "b.tga", "big.tga"}) {
            if (name == failed) {
                continue;
            }
            EXPECT_NE(LineOf(result, name).find("Done"), std::string::npos) << LineOf(result, name);
            EXPECT_EQ(ReadBytes(folder + "/" + name), NormalForm(*ReadBytes(src + "/" + name)))
                << name;
        }
        if (failed == "big.tga") {
            EXPECT_EQ(ReadBytes(folder + "/big.tga"), oldBig) << "the old destination changed";
        }
        EXPECT_EQ(TemporaryFiles(folder), std::vector<std::string>{});
    }

    ScratchDir scratch;
    std::string src = scratch / "src";
    std::string dst = scratch / "dst";
    Bytes oldBig;
};

bool IsRoot() {
    return ::geteuid() == 0;
}

TEST(FaultInjection, FullFileSystem) {
    if (!IsRoot()) {
        GTEST_SKIP() << "mounting a small tmpfs needs root";
    }
    Batch batch;
    // A mount namespace of this test process only, so that the mount is
    // private and goes away with the process even if the test dies.
    if (!EnterPrivateMountNamespace() ||
        ::mount("tmpfs", batch.dst.c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    batch.PlaceOldDestination(batch.dst);
    // The large file first: once it has failed, its temporary file must be
    // gone, or the small ones would find no room either. One job at a time:
    // converted side by side, the small files would race the large one for
    // the little room there is, and which one fails would be down to timing.
    const ProcessResult result = RunCli({"-j", "1", "-o", batch.dst, batch.src + "/big.tga",
                                         batch.src + "/a.tga", batch.src + "/b.tga"});
    batch.ExpectOnlyFailed(result, "big.tga", "Unable to write to file", batch.dst);
    ::umount2(batch.dst.c_str(), MNT_DETACH);
}

TEST(FaultInjection, FullDeviceRefusesTheStreamsWrites) {
    GFXStream::FileOutputStream out;
    if (!out.Open("/dev/full", true)) {
        GTEST_SKIP() << "no /dev/full";
    }
    TgaSpec spec;
    spec.width = 512;
    spec.height = 512;
    const Bytes file = MakeTga(spec);
    GFXStream::MemoryInputStream in(file.data(), file.size());
    const auto image = ReadTGA(in, nullptr, nullptr);
    // The ring fills and its first flush hits the full device.
    const std::string message = MessageOf([&] {
                                    WriteTGA(out, *image, false);
                                    out.Close();
                                }).value_or("");
    EXPECT_NE(message.find("Unable to write to file"), std::string::npos) << message;
    out.Discard();
    EXPECT_FALSE(out.IsOpen());
}

TEST(FaultInjection, DestinationThatIsADeviceIsRefused) {
    Batch batch;
    batch.PlaceOldDestination(batch.dst);
    fs::remove(batch.dst + "/big.tga");
    fs::create_symlink("/dev/full", batch.dst + "/big.tga");
    const ProcessResult result = RunCli(
        {"-o", batch.dst, batch.src + "/big.tga", batch.src + "/a.tga", batch.src + "/b.tga"});
    EXPECT_EQ(result.exitStatus, kSomeFailed) << result.output;
    EXPECT_NE(Batch::LineOf(result, "big.tga").find("Unable to open file"), std::string::npos)
        << result.output;
    EXPECT_TRUE(fs::is_symlink(batch.dst + "/big.tga"));
    EXPECT_EQ(fs::read_symlink(batch.dst + "/big.tga"), "/dev/full");
    EXPECT_EQ(TemporaryFiles(batch.dst), std::vector<std::string>{});
    EXPECT_EQ(TemporaryFiles("/dev"), std::vector<std::string>{});
}

TEST(FaultInjection, FileSizeLimitCutsAWriteInTheMiddle) {
    Batch batch;
    batch.PlaceOldDestination(batch.dst);
    ProcessOptions options;
    options.fileSizeLimit = 100 * 1024;  // the large file's output is 768 KiB
    const ProcessResult result = RunCli(
        {"-o", batch.dst, batch.src + "/a.tga", batch.src + "/big.tga", batch.src + "/b.tga"},
        options);
    batch.ExpectOnlyFailed(result, "big.tga", "Unable to write to file", batch.dst);
}

TEST(FaultInjection, FolderTheUserMayNotWrite) {
    if (!IsRoot()) {
        GTEST_SKIP() << "running as another user needs root";
    }
    Batch batch;
    // src/ok/a.tga and src/locked/big.tga, converted with -r into dst/ok
    // (the user's) and dst/locked (root's, read-only to the user).
    fs::create_directories(batch.src + "/ok");
    fs::create_directories(batch.src + "/locked");
    fs::rename(batch.src + "/a.tga", batch.src + "/ok/a.tga");
    fs::rename(batch.src + "/big.tga", batch.src + "/locked/big.tga");
    fs::remove(batch.src + "/b.tga");
    fs::create_directories(batch.dst + "/ok");
    fs::create_directories(batch.dst + "/locked");
    batch.PlaceOldDestination(batch.dst + "/locked");
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown((batch.dst + "/ok").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(batch.dst.c_str(), kNobody, kNobody), 0);
    ProcessOptions options;
    options.user = kNobody;
    const ProcessResult result = RunCli({"-r", "-o", batch.dst, batch.src}, options);
    SCOPED_TRACE(result.output);
    EXPECT_EQ(result.exitStatus, kSomeFailed);
    EXPECT_NE(Batch::LineOf(result, "big.tga").find("Unable to open file"), std::string::npos);
    EXPECT_NE(Batch::LineOf(result, "a.tga").find("Done"), std::string::npos);
    EXPECT_EQ(ReadBytes(batch.dst + "/locked/big.tga"), batch.oldBig);
    EXPECT_EQ(ReadBytes(batch.dst + "/ok/a.tga"), NormalForm(*ReadBytes(batch.src + "/ok/a.tga")));
    EXPECT_EQ(TemporaryFiles(batch.dst + "/locked"), std::vector<std::string>{});
    EXPECT_EQ(TemporaryFiles(batch.dst + "/ok"), std::vector<std::string>{});
}

TEST(FaultInjection, DestinationThatIsAFile) {
    Batch batch;
    // The whole destination is a file: every file fails, the file stays.
    const std::string notAFolder = batch.scratch / "not-a-folder";
    WriteBytes(notAFolder, {1, 2, 3});
    ProcessResult result = RunCli({"-o", notAFolder, batch.src + "/a.tga", batch.src + "/b.tga"});
    EXPECT_EQ(result.exitStatus, kSomeFailed) << result.output;
    EXPECT_NE(Batch::LineOf(result, "a.tga").find("Unable to open file"), std::string::npos)
        << result.output;
    EXPECT_NE(Batch::LineOf(result, "b.tga").find("Unable to open file"), std::string::npos);
    EXPECT_EQ(ReadBytes(notAFolder), (Bytes{1, 2, 3}));
    EXPECT_EQ(TemporaryFiles(batch.scratch.Path()), std::vector<std::string>{});

    // One destination name is taken by a folder: that file fails alone.
    fs::create_directories(batch.dst + "/a.tga");
    batch.PlaceOldDestination(batch.dst);
    result = RunCli({"-o", batch.dst, batch.src + "/a.tga", batch.src + "/b.tga"});
    EXPECT_EQ(result.exitStatus, kSomeFailed) << result.output;
    EXPECT_NE(Batch::LineOf(result, "a.tga").find("Unable to open file"), std::string::npos)
        << result.output;
    EXPECT_NE(Batch::LineOf(result, "b.tga").find("Done"), std::string::npos) << result.output;
    EXPECT_TRUE(fs::is_directory(batch.dst + "/a.tga"));
    EXPECT_EQ(TemporaryFiles(batch.dst), std::vector<std::string>{});
}

TEST(FaultInjection, MissingSource) {
    Batch batch;
    batch.PlaceOldDestination(batch.dst);
    fs::rename(batch.src + "/big.tga", batch.scratch / "elsewhere.tga");
    const ProcessResult result = RunCli(
        {"-o", batch.dst, batch.src + "/a.tga", batch.src + "/big.tga", batch.src + "/b.tga"});
    batch.ExpectOnlyFailed(result, "big.tga", ": Unable to open file", batch.dst);
}

class RecordingLog : public LogSink {
  public:
    void Clear() override { text.clear(); }
    void Append(std::string_view added) override { text.append(added); }
    std::string text;
};

// Between the listing and the reading of each file, the file is changed:
// removed, cut short, emptied, or replaced by a folder.
TEST(FaultInjection, SourcesThatVanishOrShrinkBetweenListingAndReading) {
    ScratchDir scratch;
    const std::string src = scratch / "src";
    const std::string dst = scratch / "dst";
    fs::create_directories(src);
    fs::create_directories(dst);
    const std::vector<std::string> names = {"0-kept.tga",    "1-removed.tga", "2-halved.tga",
                                            "3-emptied.tga", "4-folder.tga",  "5-kept.tga"};
    Bytes old;
    for (const std::string& name : names) {
        TgaSpec spec;
        spec.width = 64;
        spec.height = 64;
        spec.seed = static_cast<std::uint32_t>(name[0]);
        WriteBytes(src + "/" + name, MakeTga(spec));
        old = MakeTga(TgaSpec{});
        WriteBytes(dst + "/" + name, old);
    }
    const Bytes kept0 = *ReadBytes(src + "/0-kept.tga");
    const Bytes kept5 = *ReadBytes(src + "/5-kept.tga");
    ConvertOptions options;
    options.progress = [&](const FileProgress& file) {
        const std::string path = src + "/" + std::string(file.name);
        switch (file.index) {
            case 1:
                fs::remove(path);
                break;
            case 2:
                fs::resize_file(path, fs::file_size(path) / 2);
                break;
            case 3:
                fs::resize_file(path, 0);
                break;
            case 4:
                fs::remove(path);
                fs::create_directories(path);
                break;
            default:
                break;
        }
    };
    RecordingLog log;
    const ConvertSummary summary = ConvertJobs(log, JobsFor(src, names, dst), options);
    SCOPED_TRACE(log.text);
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_EQ(summary.failed, 4u);
    const std::vector<std::string> lines = Lines(log.text);
    ASSERT_EQ(lines.size(), names.size());
    EXPECT_NE(lines[0].find("Done"), std::string::npos);
    EXPECT_EQ(lines[1], "1-removed.tga: Unable to open file (No such file or directory)");
    EXPECT_EQ(lines[2],
              "2-halved.tga"
              "Error: ReadTGA: Unexpected end of input");
    EXPECT_EQ(lines[3], "3-emptied.tga: Unable to open file (Empty file)");
    EXPECT_EQ(lines[4], "4-folder.tga: Unable to open file (Is a directory)");
    EXPECT_NE(lines[5].find("Done"), std::string::npos);
    for (std::size_t i = 1; i <= 4; ++i) {
        EXPECT_EQ(ReadBytes(dst + "/" + names[i]), old) << names[i];
    }
    EXPECT_EQ(ReadBytes(dst + "/0-kept.tga"), NormalForm(kept0));
    EXPECT_EQ(ReadBytes(dst + "/5-kept.tga"), NormalForm(kept5));
    EXPECT_EQ(TemporaryFiles(dst), std::vector<std::string>{});
}

// The file is cut short while it is mapped and half read, as when another
// program rewrites it during the batch. Reading past the new end of a
// mapping raises SIGBUS on Linux; the reader must fail with an error
// instead, and the process must live on.
TEST(FaultInjection, SourceThatShrinksWhileItIsRead) {
    ScratchDir scratch;
    const std::string path = scratch / "shrinking.tga";
    TgaSpec spec;
    spec.width = 1024;
    spec.height = 1024;  // 3 MiB, many pages past the cut
    WriteBytes(path, MakeTga(spec));
    struct Cut {
        std::string path;
        bool done = false;
    } cut{path};
    const ReadProgressCallback onRow = [](std::int32_t row, const void*, void* data) {
        auto& state = *static_cast<Cut*>(data);
        if (row == 10 && !state.done) {
            state.done = true;
            fs::resize_file(state.path, 4096);
        }
    };
    GFXStream::MappedFileInputStream in;
    ASSERT_TRUE(in.Open(path.c_str()));
    const std::optional<std::string> message = MessageOf([&] { ReadTGA(in, onRow, &cut); });
    in.Close();
    EXPECT_TRUE(cut.done);
    EXPECT_EQ(message, std::string("ReadTGA: ") + GFXStream::kFileChangedText);
    // A stream opened afterwards reads the file as it now is.
    ASSERT_TRUE(in.Open(path.c_str()));
    EXPECT_EQ(in.Remaining(), 4096u);
    in.Close();
}

// The temporary file a killed run leaves behind is no input of the next.
TEST(FaultInjection, TemporaryFileOfAKilledRunIsNotTakenAsAnImage) {
    Batch batch;
    const std::string leftover = batch.src + "/.a.tga.tessary-123-abc-0.tmp";
    WriteBytes(leftover, Bytes(100, 0));
    const ProcessResult result = RunCli({"-o", batch.dst, batch.src});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(Lines(result.output).size(), 4u) << result.output;  // 3 files, the summary
    EXPECT_TRUE(fs::exists(leftover));
}

}  // namespace
