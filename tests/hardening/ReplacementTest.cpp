// Replacing files where others may interfere: shared folders with planted
// links, files with an ACL, extended attributes, another owner or group,
// inputs that are no regular files, sources cut short under many readers,
// names of the longest length, two names for one file, and runs killed in
// the middle of a batch, with and without anonymous temporary files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "HardeningSupport.h"
#include "batch/ConvertOneFile.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"

using namespace Files;
using namespace Batch;

namespace fs = std::filesystem;

namespace {

constexpr uid_t kVictim = 65534;  // nobody: the user who runs Tessary
constexpr uid_t kOther = 12345;   // another user, who needs no account
constexpr gid_t kTeamGroup = 65533;

std::string LineOf(const ProcessResult& result, const std::string& name) {
    for (const std::string& line : Lines(result.output)) {
        if (line.find(name) != std::string::npos) {
            return line;
        }
    }
    return "(no line for " + name + ")";
}

Bytes SmallTga(std::uint32_t seed, std::uint16_t size = 16) {
    TgaSpec spec;
    spec.imageType = 10;
    spec.width = size;
    spec.height = size;
    spec.depth = 32;
    spec.seed = seed;
    return MakeTga(spec);
}

std::map<std::string, std::string> Attributes(const std::string& path) {
    std::map<std::string, std::string> all;
    char names[4096];
    const ssize_t length = ::listxattr(path.c_str(), names, sizeof names);
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
        char value[4096];
        const ssize_t size = ::getxattr(path.c_str(), names + at, value, sizeof value);
        all[names + at] = std::string(value, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    }
    return all;
}

const std::vector<bool> kTemporaryKinds = {false, true};  // anonymous, then named

TEST(Replacement, KilledMidBatchLeavesEachFileOldOrNewAndAtMostOneTemporaryPerJob) {
    constexpr int kJobs = 4;
    for (const bool named : kTemporaryKinds) {
        SCOPED_TRACE(named ? "named temporary files" : "anonymous temporary files");
        ScratchDir scratch;
        std::vector<std::string> paths;
        std::vector<Bytes> olds;
        for (int i = 0; i < 24; ++i) {
            paths.push_back(scratch / ("f" + std::to_string(i) + ".tga"));
            olds.push_back(SmallTga(static_cast<std::uint32_t>(i + 1), 1024));  // 4 MiB out
        }
        std::vector<std::string> arguments = {"-j", std::to_string(kJobs), "-o", scratch.Path()};
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        ProcessOptions options;
        options.noAnonymousFiles = named;
        const std::uintmax_t newSize = NormalForm(olds[0]).size();
        bool killed = false;
        for (int attempt = 0; attempt < 3 && !killed; ++attempt) {
            for (std::size_t i = 0; i < paths.size(); ++i) {
                WriteBytes(paths[i], olds[i]);
            }
            const std::string log = scratch / "log";
            const pid_t pid = StartCli(arguments, log, options);
            // Killed as soon as the first files are in place, with more in hand.
            const auto replaced = [&] {
                return std::count_if(paths.begin(), paths.end(), [&](const std::string& path) {
                    std::error_code error;
                    return fs::file_size(path, error) == newSize;
                });
            };
            while (replaced() == 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ::kill(pid, SIGKILL);
            const ProcessResult result = WaitFor(pid, log);
            killed = result.signal == SIGKILL && replaced() < static_cast<long>(paths.size());
            for (std::size_t i = 0; i < paths.size(); ++i) {
                const Bytes now = *ReadBytes(paths[i]);
                EXPECT_TRUE(now == olds[i] || now == NormalForm(olds[i])) << paths[i];
            }
            const std::size_t left = TemporaryFiles(scratch.Path()).size();
            EXPECT_LE(left, named ? std::size_t{kJobs} : 0u);
        }
        EXPECT_TRUE(killed) << "never caught the batch in the middle";
        // The next run removes what the killed one left.
        const ProcessResult rerun = RunCli(arguments, options);
        EXPECT_EQ(rerun.exitStatus, 0) << rerun.output;
        EXPECT_EQ(TemporaryFiles(scratch.Path()), std::vector<std::string>{});
    }
}

TEST(Replacement, NameOfTheLongestLengthIsRepairedInPlace) {
    for (const bool named : kTemporaryKinds) {
        ScratchDir scratch;
        const std::string name = std::string(251, 'n') + ".tga";  // 255 bytes
        WriteBytes(scratch / name, SmallTga(7));
        ProcessOptions options;
        options.noAnonymousFiles = named;
        const ProcessResult result = RunCli({"-o", scratch.Path(), scratch / name}, options);
        EXPECT_EQ(result.exitStatus, 0) << result.output;
        EXPECT_EQ(ReadBytes(scratch / name), NormalForm(SmallTga(7)));
        EXPECT_EQ(Listing(scratch.Path()), std::vector<std::string>{name});
    }
}

TEST(Replacement, InputsThatAreNoRegularFilesFailAtOnce) {
    ScratchDir scratch;
    const std::string fifo = scratch / "fifo.tga";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WriteBytes(scratch / "a.tga", SmallTga(1));
    const std::string log = scratch.Path() + ".log";
    const pid_t pid =
        StartCli({"-j", "2", "-o", scratch / "out", fifo, scratch / "a.tga", "/dev/null"}, log);
    // Once opening a FIFO waited for a writer that never came, for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const bool hung = ::kill(pid, SIGKILL) == 0;
    const ProcessResult result = WaitFor(pid, log);
    ASSERT_FALSE(hung) << "the batch blocked on the FIFO";
    EXPECT_EQ(LineOf(result, "fifo.tga"), fifo + ": Unable to open file (Not a regular file)");
    EXPECT_EQ(LineOf(result, "/dev/null"), "/dev/null: Unable to open file (Not a regular file)");
    EXPECT_NE(LineOf(result, "a.tga").find("Done"), std::string::npos) << result.output;
}

// More sources open at once than a fixed table of guarded views would
// hold, all cut short under their readers: each read fails on its own.
TEST(Replacement, EverySourceCutShortFailsOnItsOwn) {
    constexpr int kStreams = 80;
    ScratchDir scratch;
    std::vector<std::unique_ptr<GFXStream::MappedFileInputStream>> streams;
    for (int i = 0; i < kStreams; ++i) {
        const std::string path = scratch / std::to_string(i);
        WriteBytes(path, Bytes(64 * 1024, 1));
        streams.push_back(std::make_unique<GFXStream::MappedFileInputStream>());
        ASSERT_TRUE(streams.back()->Open(path.c_str()));
        fs::resize_file(path, 100);
    }
    for (auto& stream : streams) {
        std::uint8_t buffer[32 * 1024];
        std::string message;
        try {
            stream->Read(buffer, sizeof buffer);
            stream->Read(buffer, sizeof buffer);
        } catch (const GFXStream::Exception& caught) {
            message = caught.message;
        }
        EXPECT_EQ(message, GFXStream::kFileChangedText);
    }
}

TEST(Replacement, TwoNamesForOneDestinationClash) {
    using MakeLink = void (*)(const fs::path&, const fs::path&);
    const std::pair<const char*, MakeLink> kinds[] = {
        {"symbolic", [](const fs::path& to, const fs::path& at) { fs::create_symlink(to, at); }},
        {"hard", [](const fs::path& to, const fs::path& at) { fs::create_hard_link(to, at); }}};
    for (const auto& [kind, makeLink] : kinds) {
        SCOPED_TRACE(kind);
        ScratchDir scratch;
        fs::create_directories(scratch / "x");
        fs::create_directories(scratch / "y");
        fs::create_directories(scratch / "out");
        WriteBytes(scratch / "x/a.tga", SmallTga(1));
        WriteBytes(scratch / "y/b.tga", SmallTga(2));
        WriteBytes(scratch / "out/b.tga", {1, 2, 3});
        makeLink(scratch / "out/b.tga", scratch / "out/a.tga");
        const ProcessResult result =
            RunCli({"-o", scratch / "out", scratch / "x/a.tga", scratch / "y/b.tga"});
        EXPECT_EQ(result.exitStatus, 1) << result.output;
        EXPECT_NE(LineOf(result, "b.tga").find(kDestinationTakenText), std::string::npos)
            << result.output;
        EXPECT_EQ(ReadBytes(scratch / "out/a.tga"), NormalForm(SmallTga(1)));
    }
}

// The new file is open to its owner alone until it is complete.
TEST(Replacement, TemporaryFileIsPrivateFromItsCreation) {
    ScratchDir scratch;
    const std::string target = scratch / "shared.tga";
    WriteBytes(target, {1, 2, 3});
    ::chmod(target.c_str(), 0644);
    GFXStream::FileOutputStream out;
    ASSERT_TRUE(out.OpenReplacement(target.c_str()));
    out.Write("new", 3);
    out.Flush();
    int checked = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const std::string opened = fs::read_symlink(entry.path()).string();
        struct stat info {};
        if (opened.rfind(scratch.Path(), 0) == 0 && opened != target &&
            ::stat(entry.path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            EXPECT_EQ(info.st_mode & 0777, 0600u) << opened;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 1);
    out.Commit();
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(Replacement, AclAndExtendedAttributesAreKept) {
    ScratchDir scratch;
    const std::string target = scratch / "team.tga";
    WriteBytes(target, SmallTga(3));
    const std::string quoted = "'" + target + "'";
    if (std::system(("setfacl -m u:12345:rw,g::r,m::rw " + quoted + " 2>/dev/null").c_str()) != 0 ||
        std::system(("setfattr -n user.note -v kept " + quoted + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "setfacl/setfattr (Debian acl, attr) missing or unsupported here";
    }
    const auto before = Attributes(target);
    ASSERT_EQ(before.count("system.posix_acl_access"), 1u);
    const ProcessResult result = RunCli({"-o", scratch.Path(), target});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(ReadBytes(target), NormalForm(SmallTga(3)));
    EXPECT_EQ(Attributes(target), before);
}

// Shared folders: a link another user planted is not followed; the
// victim's own link is. A team file keeps its group where only the group
// may be given, and the log says the owner could not be kept.
TEST(Replacement, SharedFoldersAsAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acting as two other users needs root";
    }
    ScratchDir scratch;
    const std::string shared = scratch / "shared";
    const std::string mine = scratch / "mine";
    const std::string team = scratch / "team";
    fs::create_directories(shared);
    fs::create_directories(mine);
    fs::create_directories(team);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    ASSERT_EQ(::chown(mine.c_str(), kVictim, kVictim), 0);
    ASSERT_EQ(::chown(team.c_str(), 0, kTeamGroup), 0);
    ASSERT_EQ(::chmod(team.c_str(), 02777), 0);  // new files take the folder's group
    WriteBytes(scratch / "x.tga", SmallTga(4));
    const Bytes secret = {9, 9, 9};
    WriteBytes(mine + "/secret.tga", secret);
    ASSERT_EQ(::chown((mine + "/secret.tga").c_str(), kVictim, kVictim), 0);
    fs::create_symlink(mine + "/secret.tga", shared + "/x.tga");
    ProcessOptions asVictim;
    asVictim.user = kVictim;

    ASSERT_EQ(::lchown((shared + "/x.tga").c_str(), kOther, kOther), 0);
    ProcessResult result = RunCli({"-o", shared, scratch / "x.tga"}, asVictim);
    EXPECT_NE(result.output.find(Files::kUntrustedLinkText), std::string::npos) << result.output;
    EXPECT_EQ(ReadBytes(mine + "/secret.tga"), secret);

    ASSERT_EQ(::lchown((shared + "/x.tga").c_str(), kVictim, kVictim), 0);
    result = RunCli({"-o", shared, scratch / "x.tga"}, asVictim);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_EQ(ReadBytes(mine + "/secret.tga"), NormalForm(SmallTga(4)));
    EXPECT_TRUE(fs::is_symlink(shared + "/x.tga"));

    const std::string teamFile = team + "/x.tga";
    WriteBytes(teamFile, SmallTga(5));
    ASSERT_EQ(::chown(teamFile.c_str(), kOther, kVictim), 0);
    ASSERT_EQ(::chmod(teamFile.c_str(), 0664), 0);
    result = RunCli({"-o", team, teamFile}, asVictim);
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(LineOf(result, "x.tga").find("Done (not kept: owner)"), std::string::npos)
        << result.output;
    struct stat info {};
    ASSERT_EQ(::stat(teamFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, kVictim);
    EXPECT_EQ(info.st_mode & 07777, 0664u);
}

TEST(Replacement, FailedMoveIntoPlaceSaysSo) {
    ScratchDir scratch;
    const std::string target = scratch / "moved.tga";
    WriteBytes(target, {1});
    GFXStream::FileOutputStream out;
    ASSERT_TRUE(out.OpenReplacement(target.c_str()));
    out.Write("new", 3);
    fs::remove(target);
    fs::create_directories(target + "/inside");  // a full folder now holds the name
    std::string message;
    try {
        out.Commit();
    } catch (const GFXStream::Exception& caught) {
        message = caught.message;
    }
    EXPECT_EQ(message, Files::kUnableToRenameText);
    EXPECT_EQ(Listing(scratch.Path()), std::vector<std::string>{"moved.tga"});
}

}  // namespace
