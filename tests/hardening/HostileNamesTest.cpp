// Hostile names and file systems: spaces, bytes that are not UTF-8, leading
// dashes, symbolic links as source and destination, a destination that is a
// hard link of its source, and a folder of 10000 files. Each file is either
// converted or gets a clear error, on one log line of its own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "HardeningSupport.h"

namespace fs = std::filesystem;

namespace {

Bytes SmallTga(std::uint32_t seed) {
    TgaSpec spec;
    spec.width = 3;
    spec.height = 2;
    spec.descriptor = 0x20;  // top-down, so that the output differs
    spec.seed = seed;
    return MakeTga(spec);
}

const std::vector<std::string>& HostileNames() {
    static const std::vector<std::string> names = {
        "with space.tga",
        "  two  leading.tga",
        "caf\xe9 latin1.tga",
        "\xff\xfe.tga",
        "-o.tga",
        "--help.tga",
        "-.tga",
        "tab\tand\nnewline.tga",
        "quote'\"$(x).tga",
        "back\\slash.tga",
    };
    return names;
}

// The log's lines for `names`, each converted into `dst`.
void ExpectConverted(const ProcessResult& result, const std::string& src, const std::string& dst,
                     const std::vector<std::string>& names) {
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    // One line per file, then the summary; control characters show as '?'.
    EXPECT_EQ(Lines(result.output).size(), names.size() + 1) << result.output;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        std::string shown = name;
        for (char& c : shown) {
            c = static_cast<unsigned char>(c) < 0x20 ? '?' : c;
        }
        EXPECT_NE(result.output.find(shown + "->"), std::string::npos) << result.output;
        EXPECT_EQ(ReadBytes(dst + "/" + name), NormalForm(*ReadBytes(src + "/" + name)));
    }
    EXPECT_NE(result.output.find(std::to_string(names.size()) + " converted, 0 failed"),
              std::string::npos);
    EXPECT_EQ(TemporaryFiles(dst), std::vector<std::string>{});
}

TEST(HostileNames, NamedOnTheCommandLineAfterDoubleDash) {
    ScratchDir scratch;
    const std::string dst = scratch / "out -o";
    std::vector<std::string> arguments = {"-o", dst, "--"};
    std::uint32_t seed = 1;
    for (const std::string& name : HostileNames()) {
        WriteBytes(scratch / name, SmallTga(seed++));
        arguments.push_back(name);
    }
    ProcessOptions options;
    options.workingFolder = scratch.Path();
    ExpectConverted(RunCli(arguments, options), scratch.Path(), dst, HostileNames());
}

TEST(HostileNames, FoundInAFolder) {
    ScratchDir scratch;
    const std::string src = scratch / "-source folder \xe9";
    fs::create_directories(src);
    std::uint32_t seed = 1;
    for (const std::string& name : HostileNames()) {
        WriteBytes(src + "/" + name, SmallTga(seed++));
    }
    const std::string dst = scratch / "out";
    ExpectConverted(RunCli({"-o", dst, "--", src}), src, dst, HostileNames());
}

TEST(HostileNames, SymbolicLinkAsSource) {
    ScratchDir scratch;
    fs::create_directories(scratch / "src");
    WriteBytes(scratch / "src/real.tga", SmallTga(5));
    fs::create_symlink("real.tga", scratch / "src/link.tga");
    const ProcessResult result = RunCli({"-o", scratch / "dst", scratch / "src/link.tga"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_FALSE(fs::is_symlink(scratch / "dst/link.tga"));
    EXPECT_EQ(ReadBytes(scratch / "dst/link.tga"), NormalForm(SmallTga(5)));
    EXPECT_EQ(ReadBytes(scratch / "src/real.tga"), SmallTga(5));
}

// The link stays and its target is replaced. The link's own folder is not
// writable by the user, so the conversion can only succeed when the
// temporary file is made beside the target.
TEST(HostileNames, SymbolicLinkAsDestinationReplacesTheTarget) {
    ScratchDir scratch;
    const std::string dst = scratch / "dst";
    const std::string targets = scratch / "targets";
    fs::create_directories(dst);
    fs::create_directories(targets);
    WriteBytes(scratch / "photo.tga", SmallTga(7));
    WriteBytes(targets + "/real.tga", {0, 1, 2});
    fs::create_symlink("../targets/real.tga", dst + "/photo.tga");
    ProcessOptions options;
    if (::geteuid() == 0) {
        constexpr uid_t kNobody = 65534;
        ASSERT_EQ(::chown(targets.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((targets + "/real.tga").c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown((scratch / "photo.tga").c_str(), kNobody, kNobody), 0);
        options.user = kNobody;  // dst stays root's and read-only to the user
    }
    const ProcessResult result = RunCli({"-o", dst, scratch / "photo.tga"}, options);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_TRUE(fs::is_symlink(dst + "/photo.tga"));
    EXPECT_EQ(fs::read_symlink(dst + "/photo.tga"), "../targets/real.tga");
    EXPECT_EQ(ReadBytes(targets + "/real.tga"), NormalForm(SmallTga(7)));
    EXPECT_EQ(TemporaryFiles(dst), std::vector<std::string>{});
    EXPECT_EQ(TemporaryFiles(targets), std::vector<std::string>{});
}

TEST(HostileNames, DanglingSymbolicLinkAsDestinationIsAClearError) {
    ScratchDir scratch;
    fs::create_directories(scratch / "dst");
    WriteBytes(scratch / "a.tga", SmallTga(1));
    WriteBytes(scratch / "b.tga", SmallTga(2));
    fs::create_symlink("nowhere/missing.tga", scratch / "dst/a.tga");
    const ProcessResult result =
        RunCli({"-o", scratch / "dst", scratch / "a.tga", scratch / "b.tga"});
    EXPECT_EQ(result.exitStatus, 1) << result.output;
    const std::vector<std::string> lines = Lines(result.output);
    ASSERT_EQ(lines.size(), 3u) << result.output;
    EXPECT_NE(lines[0].find("Unable to open file"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("Done"), std::string::npos) << lines[1];
    EXPECT_TRUE(fs::is_symlink(scratch / "dst/a.tga"));
}

// Replacing the destination gives it a new file; the source, which shared
// the old one, keeps its bytes.
TEST(HostileNames, DestinationThatIsAHardLinkOfTheSource) {
    ScratchDir scratch;
    fs::create_directories(scratch / "src");
    fs::create_directories(scratch / "dst");
    WriteBytes(scratch / "src/a.tga", SmallTga(3));
    fs::create_hard_link(scratch / "src/a.tga", scratch / "dst/a.tga");
    const ProcessResult result = RunCli({"-o", scratch / "dst", scratch / "src/a.tga"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(ReadBytes(scratch / "dst/a.tga"), NormalForm(SmallTga(3)));
    EXPECT_EQ(ReadBytes(scratch / "src/a.tga"), SmallTga(3));
    EXPECT_EQ(TemporaryFiles(scratch / "dst"), std::vector<std::string>{});
}

TEST(HostileNames, TenThousandFilesInOneFolder) {
    ScratchDir scratch;
    const std::string src = scratch / "src";
    fs::create_directories(src);
    constexpr int kFiles = 10000;
    const Bytes file = SmallTga(9);
    for (int i = 0; i < kFiles; ++i) {
        WriteBytes(src + "/" + std::to_string(i) + ".tga", file);
    }
    const ProcessResult result = RunCli({"-o", scratch / "dst", src});
    EXPECT_EQ(result.exitStatus, 0) << result.output.substr(0, 2000);
    const std::vector<std::string> lines = Lines(result.output);
    ASSERT_EQ(lines.size(), kFiles + 1u);  // one line per file, then the summary
    EXPECT_EQ(lines.back(), "10000 converted, 0 failed");
    EXPECT_EQ(Listing(scratch / "dst").size(), static_cast<std::size_t>(kFiles));
    EXPECT_EQ(ReadBytes(scratch / "dst/9999.tga"), NormalForm(file));
}

}  // namespace

TEST(HostileNames, FolderThatCannotBeListedKeepsItsPlaceInTheLog) {
    constexpr uid_t kNobody = 65534;
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run tessary-cli as another user";
    }
    TempDir scratch;
    for (const char* folder : {"/a", "/b/locked", "/c", "/out"}) {
        fs::create_directories(scratch.Path() + folder);
    }
    WriteBytes(scratch / "a/1.tga", SmallTga(1));
    WriteBytes(scratch / "c/2.tga", SmallTga(2));
    fs::permissions(scratch.path(), fs::perms::all);
    fs::permissions(scratch / "b/locked", fs::perms::none);
    ASSERT_EQ(::chown((scratch / "out").c_str(), kNobody, kNobody), 0);
    ProcessOptions options;
    options.user = kNobody;
    options.workingFolder = scratch.Path();
    const ProcessResult result = RunCli({"-r", "-o", "out", "a", "b", "c"}, options);
    EXPECT_EQ(result.exitStatus, 1);
    const auto first = result.output.find("1.tga->");
    const auto folder = result.output.find("locked: Unable to open folder");
    const auto second = result.output.find("2.tga->");
    EXPECT_TRUE(first < folder && folder < second && second != std::string::npos) << result.output;
}
