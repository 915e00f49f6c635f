// ConvertFiles on real files in a temporary folder: the log text and the
// bytes it leaves on disk.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>

#include <gtest/gtest.h>

#include "app/win32/ConvertFiles.h"
#include "batch/ConvertOneFile.h"
#include "support/AppTestSupport.h"
#include "support/PickerList.h"

using namespace Batch;

namespace {

class ConvertFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir((temp / "src").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((temp / "out").c_str(), 0755), 0);
    }

    std::string Source(std::string_view name) const { return temp / ("src/" + std::string(name)); }
    std::string Output(std::string_view name) const { return temp / ("out/" + std::string(name)); }
    std::string OutFolder() const { return temp / "out"; }

    ConvertSummary Convert(const std::string& list, const std::string& destination,
                           const ConvertOptions& options = {}) {
        return ConvertFiles(log, destination.c_str(), list.c_str(), options);
    }
    std::string DoneLine(const std::string& name) const {
        return name + "->" + OutFolder() + "/" + name + "...Done\n";
    }

    TempDir temp;
    RecordingLog log;
};

TEST_F(ConvertFilesTest, SingleFullPathIsSplitAndConverted) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(3, 2, true, true));

    const ConvertSummary summary = Convert(PickerList(Source("a.tga")), OutFolder());

    EXPECT_EQ(log.text, DoneLine("a.tga"));
    EXPECT_EQ(ReadFileBytes(Output("a.tga")), ExpectedPlainTGA(3, 2));
    EXPECT_EQ(summary.converted, 1u);
    EXPECT_EQ(summary.failed, 0u);
}

TEST_F(ConvertFilesTest, FailingFileBetweenTwoGoodOnesDoesNotStopTheBatch) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(2, 2, true, false));
    Bytes cut = MakeTrueColourTGA(4, 4, false, false);
    cut.resize(30);
    WriteFileBytes(Source("b.tga"), cut);
    WriteFileBytes(Source("c.tga"), MakeTrueColourTGA(5, 1, false, true, "id"));
    const std::vector<std::string> names = {"c.tga", "b.tga", "a.tga"};  // list order, not sorted

    const ConvertSummary summary = Convert(PickerList(temp / "src", names), OutFolder());

    EXPECT_EQ(log.text, DoneLine("c.tga") + "b.tgaError: ReadTGA: Unexpected end of input\n" +
                            DoneLine("a.tga"));
    EXPECT_EQ(ReadFileBytes(Output("a.tga")), ExpectedPlainTGA(2, 2));
    EXPECT_EQ(ReadFileBytes(Output("c.tga")), ExpectedPlainTGA(5, 1));
    EXPECT_FALSE(FileExists(Output("b.tga")));
    EXPECT_EQ(summary.converted, 2u);
    EXPECT_EQ(summary.failed, 1u);
}

TEST_F(ConvertFilesTest, MissingInputIsReportedAndNothingIsWritten) {
    Convert(PickerList(Source("missing.tga")), OutFolder());

    EXPECT_EQ(log.text, "missing.tga: Unable to open file (No such file or directory)\n");
    EXPECT_TRUE(ListFolder(OutFolder()).empty());
}

TEST_F(ConvertFilesTest, DestinationEqualToSourceRewritesInPlaceKeepingPermissions) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(3, 3, true, false, "some id"));
    ASSERT_EQ(::chmod(Source("a.tga").c_str(), 0640), 0);
    const std::vector<std::string> names = {"a.tga"};

    Convert(PickerList(temp / "src", names), temp / "src");

    EXPECT_EQ(log.text, "a.tga->" + (temp / "src") + "/a.tga...Done\n");
    EXPECT_EQ(ReadFileBytes(Source("a.tga")), ExpectedPlainTGA(3, 3));
    struct stat info {};
    ASSERT_EQ(::stat(Source("a.tga").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(ListFolder(temp / "src"), std::vector<std::string>{"a.tga"});  // no leftovers
}

TEST_F(ConvertFilesTest, OutputFolderThatCannotHoldFilesGivesUnableToOpen) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(1, 1, false, false));
    WriteFileBytes(temp / "plain-file", {1, 2, 3});
    const std::string destination = temp / "plain-file";  // not a folder, even for root

    Convert(PickerList(Source("a.tga")), destination);

    EXPECT_EQ(log.text,
              "a.tga->" + destination + "/a.tga...Unable to open file (Not a directory)\n");
    EXPECT_EQ(ReadFileBytes(destination), (Bytes{1, 2, 3}));
}

TEST_F(ConvertFilesTest, ExistingDestinationThatIsNoFileIsLeftAlone) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(1, 1, false, false));
    ASSERT_EQ(::mkdir(Output("a.tga").c_str(), 0755), 0);

    Convert(PickerList(Source("a.tga")), OutFolder());

    EXPECT_EQ(log.text,
              "a.tga->" + OutFolder() + "/a.tga...Unable to open file (Is a directory)\n");
    EXPECT_EQ(ListFolder(OutFolder()), std::vector<std::string>{"a.tga"});
}

TEST_F(ConvertFilesTest, UnsupportedFilesLogTheReadersMessage) {
    Bytes badType = MakeTrueColourTGA(1, 1, false, false);
    badType[2] = 5;
    Bytes badDepth = MakeTrueColourTGA(1, 1, false, false);
    badDepth[16] = 12;
    WriteFileBytes(Source("type.tga"), badType);
    WriteFileBytes(Source("depth.tga"), badDepth);
    WriteFileBytes(Source("empty.tga"), {});
    const std::vector<std::string> names = {"type.tga", "depth.tga", "empty.tga"};

    Convert(PickerList(temp / "src", names), OutFolder());

    EXPECT_EQ(log.text,
              "type.tgaError: ReadTGA: Unsupported image type\n"
              "depth.tgaError: ReadTGA: Unsupported bit depth\n"
              "empty.tga: Unable to open file (Empty file)\n");
}

TEST_F(ConvertFilesTest, EachBatchStartsWithAnEmptyLog) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(1, 1, false, false));
    Convert(PickerList(Source("a.tga")), OutFolder());
    Convert(PickerList(Source("missing.tga")), OutFolder());

    EXPECT_EQ(log.clears, 2);
    EXPECT_EQ(log.text, "missing.tga: Unable to open file (No such file or directory)\n");
}

TEST_F(ConvertFilesTest, RunLengthOptionWritesRunLengthFiles) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(4, 2, false, false));
    ConvertOptions options;
    options.rle = true;

    Convert(PickerList(Source("a.tga")), OutFolder(), options);

    const Bytes written = ReadFileBytes(Output("a.tga"));
    ASSERT_GT(written.size(), 18u);
    EXPECT_EQ(written[2], 10);
    EXPECT_EQ(written[17], 0);
}

TEST_F(ConvertFilesTest, StopFlagEndsTheBatchBetweenFiles) {
    for (const char* name : {"a.tga", "b.tga", "c.tga"}) {
        WriteFileBytes(Source(name), MakeTrueColourTGA(1, 1, false, false));
    }
    const std::vector<std::string> names = {"a.tga", "b.tga", "c.tga"};
    std::atomic<bool> stop{false};
    std::vector<std::string> seen;
    ConvertOptions options;
    options.stop = &stop;
    options.progress = [&](const FileProgress& file) {
        seen.push_back(std::to_string(file.index) + "/" + std::to_string(file.count) + " " +
                       std::string(file.name));
        if (file.index == 1) {
            stop = true;  // as if the window closed while b.tga was converted
        }
    };

    const ConvertSummary summary = Convert(PickerList(temp / "src", names), OutFolder(), options);

    EXPECT_EQ(seen, (std::vector<std::string>{"0/3 a.tga", "1/3 b.tga"}));
    EXPECT_EQ(log.text, DoneLine("a.tga") + DoneLine("b.tga"));
    EXPECT_TRUE(summary.stopped);
    EXPECT_FALSE(FileExists(Output("c.tga")));
}

TEST_F(ConvertFilesTest, LaterFileWithTheSameDestinationFailsInsteadOfReplacing) {
    ASSERT_EQ(::mkdir((temp / "other").c_str(), 0755), 0);
    WriteFileBytes(Source("x.tga"), MakeTrueColourTGA(2, 1, false, false));
    WriteFileBytes(temp / "other/x.tga", MakeTrueColourTGA(1, 1, false, false));
    // The same folder spelt another way is still the same destination.
    const std::vector<BatchJob> jobs = {
        {Source("x.tga"), "src/x.tga", Output("x.tga")},
        {temp / "other/x.tga", "other/x.tga", temp / "src/../out/x.tga"}};
    const ConvertSummary summary = ConvertJobs(log, jobs);

    EXPECT_EQ(log.text, "src/x.tga->" + Output("x.tga") + "...Done\nother/x.tga->" +
                            (temp / "src/../out/") + "x.tga...Error: " + kDestinationTakenText +
                            "\n");
    EXPECT_EQ(ReadFileBytes(Output("x.tga")), ExpectedPlainTGA(2, 1));
    EXPECT_EQ(summary.failed, 1u);
}

TEST_F(ConvertFilesTest, DuplicateNameInOneListIsConvertedOnce) {
    WriteFileBytes(Source("x.tga"), MakeTrueColourTGA(1, 1, false, false));
    const std::vector<std::string> names = {"x.tga", "x.tga"};

    const ConvertSummary summary = Convert(PickerList(temp / "src", names), OutFolder());

    EXPECT_EQ(log.text, DoneLine("x.tga") + "x.tga->" + OutFolder() +
                            "/x.tga...Error: " + kDestinationTakenText + "\n");
    EXPECT_EQ(summary.failed, 1u);
}

TEST_F(ConvertFilesTest, FileWithoutFolderPartIsFoundInTheCurrentDirectory) {
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(2, 2, true, false));
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir((temp / "src").c_str()), 0);

    Convert(PickerList("a.tga"), OutFolder());

    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_EQ(log.text, DoneLine("a.tga"));
    EXPECT_EQ(ReadFileBytes(Output("a.tga")), ExpectedPlainTGA(2, 2));
}

TEST_F(ConvertFilesTest, LongPathsAreLoggedWhole) {
    std::string folder = OutFolder();
    for (int level = 0; level < 6; ++level) {
        folder += "/" + std::string(200, static_cast<char>('a' + level));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    const std::string name = std::string(150, 'n') + ".tga";
    WriteFileBytes(Source(name), MakeTrueColourTGA(1, 1, false, false));

    Convert(PickerList(Source(name)), folder);

    EXPECT_GT(log.text.size(), 1400u);
    EXPECT_EQ(log.text, name + "->" + folder + "/" + name + "...Done\n");
}

TEST_F(ConvertFilesTest, NamesThatAreNotUtf8AreOpenedAndLoggedAsTheyAre) {
    const std::string name = "caf\xe9-\xff.tga";
    WriteFileBytes(Source(name), MakeTrueColourTGA(1, 2, true, false));

    Convert(PickerList(Source(name)), OutFolder());

    EXPECT_EQ(log.text, DoneLine(name));
    EXPECT_EQ(ReadFileBytes(Output(name)), ExpectedPlainTGA(1, 2));
}

// Write failures need a file system that runs out of room for real.

// Restores the file-size limit and SIGXFSZ when it goes.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);  // writes then fail with EFBIG
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        applied = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    bool Applied() const { return applied; }

  private:
    rlimit saved{};
    void (*previousHandler)(int) = SIG_DFL;
    bool applied = false;
};

TEST_F(ConvertFilesTest, WriteErrorKeepsTheOldFileAndTheNextFileStillConverts) {
    // 250 x 250 x 3 bytes do not fit the 128 KiB ring, so the writer itself meets
    // the refusal; the small file after it fits the limit.
    WriteFileBytes(Source("big.tga"), MakeTrueColourTGA(250, 250, true, false));
    WriteFileBytes(Source("small.tga"), MakeTrueColourTGA(2, 2, true, false));
    WriteFileBytes(Output("big.tga"), {'o', 'l', 'd'});
    const std::vector<std::string> names = {"big.tga", "small.tga"};
    ConvertSummary summary;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.Applied());
        summary = Convert(PickerList(temp / "src", names), OutFolder());
    }

    EXPECT_EQ(log.text,
              "big.tga->" + OutFolder() +
                  "/big.tga...Error: WriteTGA: Unable to write to file (File too large)\n" +
                  DoneLine("small.tga"));
    EXPECT_EQ(ReadFileBytes(Output("big.tga")), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(ReadFileBytes(Output("small.tga")), ExpectedPlainTGA(2, 2));
    EXPECT_EQ(ListFolder(OutFolder()), (std::vector<std::string>{"big.tga", "small.tga"}));
    EXPECT_EQ(summary.failed, 1u);
}

// A tiny tmpfs, mounted for the test, that is filled to the last byte. It is
// mounted in a namespace of the test process's own, so a test that dies
// cannot leave it behind.
class FullFileSystem {
  public:
    explicit FullFileSystem(const std::string& folder) : path(folder) {
        if (::mkdir(path.c_str(), 0755) != 0 || !EnterPrivateMountNamespace() ||
            ::mount("tessary-test", path.c_str(), "tmpfs", 0, "size=64k") != 0) {
            return;
        }
        mounted = true;
        const int fd = ::open((path + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        char block[4096] = {};
        while (fd >= 0 && ::write(fd, block, sizeof block) > 0) {
        }
        while (fd >= 0 && ::write(fd, block, 1) > 0) {
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ~FullFileSystem() {
        if (mounted) {
            ::umount2(path.c_str(), MNT_DETACH);
        }
    }
    bool Mounted() const { return mounted; }

  private:
    std::string path;
    bool mounted = false;
};

TEST_F(ConvertFilesTest, FullDeviceGivesUnableToWriteWhenTheLastBytesAreStored) {
    FullFileSystem full(temp / "full");
    if (!full.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount rights)";
    }
    WriteFileBytes(Source("a.tga"), MakeTrueColourTGA(4, 4, false, false));

    Convert(PickerList(Source("a.tga")), temp / "full");

    // Small enough to stay in the ring: the failure comes when it is stored.
    EXPECT_EQ(log.text, "a.tga->" + (temp / "full") +
                            "/a.tga...Error: Unable to write to file (No space left on device)\n");
    EXPECT_EQ(ListFolder(temp / "full"), std::vector<std::string>{"filler"});
}

#if defined(__SANITIZE_ADDRESS__)
#define TESSARY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSARY_ADDRESS_SANITIZER 1
#endif
#endif

#ifndef TESSARY_ADDRESS_SANITIZER
std::size_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}
#endif

TEST_F(ConvertFilesTest, RunLengthOutputOfAPictureLargerThanTheLimitConverts) {
#ifdef TESSARY_ADDRESS_SANITIZER
    GTEST_SKIP() << "an address-space limit cannot be combined with the address sanitizer";
#else
    // 4000 x 4000 x 3 bytes, more than the limit allows: run-length output
    // is encoded from the file a window and a row at a time, as the normal
    // form is written, so the picture is never held whole.
    Bytes huge = MakeTrueColourTGA(1, 1, false, false);
    huge[12] = huge[14] = 0xA0;  // 4000 = 0x0FA0, width and height
    huge[13] = huge[15] = 0x0F;
    huge.resize(18 + 4000 * 4000 * 3);
    WriteFileBytes(Source("huge.tga"), huge);
    WriteFileBytes(Source("small.tga"), MakeTrueColourTGA(2, 2, false, false));
    const std::vector<std::string> names = {"huge.tga", "small.tga"};
    const std::string list = PickerList(temp / "src", names);
    const std::string destination = OutFolder();
    rlimit saved{};
    ::getrlimit(RLIMIT_AS, &saved);
    rlimit limited = saved;
    limited.rlim_cur = AddressSpaceInUse() + 40u * 1024 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &limited), 0);
    ConvertOptions options;
    options.rle = true;
    const ConvertSummary summary = ConvertFiles(log, destination.c_str(), list.c_str(), options);
    ::setrlimit(RLIMIT_AS, &saved);

    EXPECT_EQ(log.text, DoneLine("huge.tga") + DoneLine("small.tga"));
    EXPECT_EQ(summary.converted, 2u);
#endif
}

}  // namespace
