// Replacing files where others may interfere: shared folders with planted
// links, files with an ACL, extended attributes, another owner or group,
// inputs that are no regular files, sources cut short under many readers,
// names of the longest length, two names for one file, and runs killed in
// the middle of a batch, with and without anonymous temporary files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include "HardeningSupport.h"
#include "batch/ConvertOneFile.h"
#include "codec/TGAFileRows.h"
#include "codec/WriteTGA.h"
#include "files/FileIdentity.h"
#include "gfxstream/Exception.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"
#include "support/MessageOf.h"
#include "support/Replacing.h"

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
    // A file another program holds a lease on is not waited for either.
    const std::string leased = scratch / "leased.tga";
    WriteBytes(leased, SmallTga(2));
    std::signal(SIGIO, SIG_IGN);  // the lease holder's notice of the open
    const int lease = ::open(leased.c_str(), O_RDWR | O_CLOEXEC);
    const bool leaseHeld = ::fcntl(lease, F_SETLEASE, F_WRLCK) == 0;
    const std::string log = scratch.Path() + ".log";
    const pid_t pid = StartCli(
        {"-j", "2", "-o", scratch / "out", fifo, scratch / "a.tga", "/dev/null", leased}, log);
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
    if (leaseHeld) {
        EXPECT_EQ(LineOf(result, "leased.tga"),
                  leased + ": Unable to open file (" + kHeldElsewhereText + ")");
    }
    ::close(lease);
}

// More sources open at once than a fixed table of guarded views would
// hold, all cut short under their readers: each read fails on its own.
TEST(Replacement, EverySourceCutShortFailsOnItsOwn) {
    constexpr int kStreams = 80;
    ScratchDir scratch;
    std::vector<std::unique_ptr<GFXStream::MappedFileInputStream>> streams;
    for (int i = 0; i < kStreams; ++i) {
        // Large enough to be mapped rather than read whole (and sparse).
        const std::string path = scratch / std::to_string(i);
        WriteBytes(path, Bytes(64 * 1024, 1));
        fs::resize_file(path, GFXStream::MappedFileInputStream::kReadWholeUpTo + 1);
        streams.push_back(std::make_unique<GFXStream::MappedFileInputStream>());
        ASSERT_TRUE(streams.back()->Open(path.c_str()));
        ASSERT_FALSE(streams.back()->InMemory());
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

// A small source is read whole when it is opened: what is read is the file
// as it was then, whatever happens to it afterwards.
TEST(Replacement, SmallSourceIsReadWholeWhenOpened) {
    ScratchDir scratch;
    const std::string path = scratch / "small";
    WriteBytes(path, Bytes(64 * 1024, 7));
    GFXStream::MappedFileInputStream stream;
    ASSERT_TRUE(stream.Open(path.c_str()));
    EXPECT_TRUE(stream.InMemory());
    fs::resize_file(path, 100);
    Bytes read(64 * 1024);
    EXPECT_EQ(stream.Read(read.data(), static_cast<std::uint32_t>(read.size())), read.size());
    EXPECT_EQ(read, Bytes(64 * 1024, 7));
}

// Rows written straight from the mapping reach the kernel unread: a source
// cut short must still read as changed, not as a fault of the destination.
TEST(Replacement, TopDownSourceCutShortWhileWrittenSaysItChanged) {
    ScratchDir scratch;
    TgaSpec spec;
    spec.width = spec.height = 1024;
    spec.depth = 32;
    spec.descriptor = 0x20;
    WriteBytes(scratch / "top-down.tga", MakeTga(spec));
    GFXStream::MappedFileInputStream in;
    ASSERT_TRUE(in.Open((scratch / "top-down.tga").c_str()));
    Codec::TGAFileRows rows(in);
    fs::resize_file(scratch / "top-down.tga", 1 << 20);
    Replacing replacing;
    ASSERT_TRUE(replacing.Open((scratch / "out.tga").c_str()));
    EXPECT_EQ(MessageOf([&] { Codec::WriteTGA(replacing.out, rows, false); }),
              std::string(GFXStream::kFileChangedText));
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
    Replacing replacing;
    ASSERT_TRUE(replacing.Open(target.c_str()));
    replacing.out.Write("new", 3);
    replacing.out.Flush();
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
    replacing.Commit();
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
    Replacing replacing;
    ASSERT_TRUE(replacing.Open(target.c_str()));
    replacing.out.Write("new", 3);
    fs::remove(target);
    fs::create_directories(target + "/inside");  // a full folder now holds the name
    std::string message;
    try {
        replacing.Commit();
    } catch (const GFXStream::Exception& caught) {
        message = caught.message;
    }
    EXPECT_EQ(message, Files::kUnableToRenameText);
    EXPECT_EQ(Listing(scratch.Path()), std::vector<std::string>{"moved.tga"});
}

}  // namespace

// The file layer's rules, one table each: a name taken meanwhile, the
// leftover sweep, the link rule, and metadata that is never widened.
namespace {

std::string Attempt(Replacing& replacing, const char* bytes) {
    try {
        replacing.out.Write(bytes, static_cast<std::uint32_t>(std::strlen(bytes)));
        replacing.Commit();
    } catch (const GFXStream::Exception& caught) {
        return caught.message;
    }
    return "";
}

TEST(FileLayer, NameTakenMeanwhileIsReplacedAsExistingOrKept) {
    const std::tuple<IfNameTaken, bool> rows[] = {// and whether taken before it began
                                                  {IfNameTaken::Replace, false},
                                                  {IfNameTaken::Keep, false},
                                                  {IfNameTaken::Keep, true}};
    for (const auto& [ifTaken, before] : rows) {
        ScratchDir scratch;
        const std::string target = scratch / "x.tga";
        const auto takeName = [&] {
            WriteBytes(target, {7});
            ::chmod(target.c_str(), 0640);
        };
        if (before) {
            takeName();
        }
        Replacing replacing;
        if (replacing.Open(target.c_str(), ifTaken)) {
            takeName();
            Attempt(replacing, "new");
        }
        const bool kept = ifTaken == IfNameTaken::Keep;
        EXPECT_EQ(replacing.file.NameTaken(), kept);
        EXPECT_EQ(ReadBytes(target), (kept ? Bytes{7} : Bytes{'n', 'e', 'w'}));
        EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));  // an existing file's
        EXPECT_EQ(Listing(scratch.Path()), std::vector<std::string>{"x.tga"});
    }
}

TEST(FileLayer, SweepRemovesOnlyWhatDeadRunsOfThisUserLeft) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "files of another owner need root";
    }
    const std::string tail = ".tessary-0123456789abcdef.tmp";
    struct Row {
        std::string name;
        uid_t owner = 0;
        bool secondLink = false, locked = false, removed = false;
    };
    const Row rows[] = {{".a.tga" + tail, 0, false, false, true},
                        {".tessary-notes.tmp"},
                        {".report.tessary-draft.tmp"},
                        {".b.tga.tessary-123-4.tmp"},
                        {".c.tga" + tail, kOther},
                        {".d.tga" + tail, 0, true},
                        {".e.tga" + tail, 0, false, true}};
    ScratchDir scratch;
    std::vector<int> held;
    for (const Row& row : rows) {
        WriteBytes(scratch / row.name, {1});
        ASSERT_EQ(::chown((scratch / row.name).c_str(), row.owner, 0), 0);
        if (row.secondLink) {
            fs::create_hard_link(scratch / row.name, scratch / "second-name");
        }
        if (row.locked) {
            held.push_back(::open((scratch / row.name).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
        }
    }
    WriteBytes(scratch / "t.tga", SmallTga(1));
    EXPECT_EQ(RunCli({"-o", scratch.Path(), scratch / "t.tga"}).exitStatus, 0);
    for (const Row& row : rows) {
        EXPECT_EQ(FileExists(scratch / row.name), !row.removed) << row.name;
    }
    std::for_each(held.begin(), held.end(), ::close);
}

TEST(FileLayer, LinkIsFollowedOnlyWhereNoOtherUserMayHavePlacedIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "links and folders of another owner need root";
    }
    struct Row {
        mode_t mode;
        uid_t folderOwner, linkOwner;
        const char* acl;          // setfacl entry for the folder, or null
        const char* destination;  // below the folder; "x.tga" is the link
        const char* failure;      // null: followed
    };
    const Row rows[] = {{01777, 0, kOther, nullptr, "x.tga", kUntrustedLinkText},
                        {02775, 0, kOther, nullptr, "x.tga", kUntrustedLinkText},
                        {0755, kOther, kOther, nullptr, "x.tga", kUntrustedLinkText},
                        {0755, 0, kOther, "u:12345:rwx", "x.tga", kUntrustedLinkText},
                        {0777, 0, kOther, nullptr, "x.tga/v.tga", kUntrustedLinkText},
                        {0755, 0, kOther, nullptr, "x.tga", nullptr},
                        {01777, 0, 0, nullptr, "x.tga", nullptr},
                        {0755, 0, 0, nullptr, "x.tga", kDanglingLinkText}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + " " + row.destination);
        ScratchDir scratch;
        const std::string folder = scratch / "f";
        const std::string victim = scratch / "private/v.tga";
        fs::create_directories(scratch / "private");
        WriteBytes(victim, {1, 2, 3});
        fs::create_directories(folder);
        ASSERT_EQ(::chown(folder.c_str(), row.folderOwner, 0), 0);
        ASSERT_EQ(::chmod(folder.c_str(), row.mode), 0);
        if (row.acl != nullptr &&
            std::system(("setfacl -m " + std::string(row.acl) + " " + folder).c_str()) != 0) {
            GTEST_SKIP() << "setfacl (Debian acl) missing or unsupported here";
        }
        const bool toFolder = std::strchr(row.destination, '/') != nullptr;
        fs::create_symlink(row.failure == kDanglingLinkText ? scratch / "none"
                           : toFolder                       ? scratch / "private"
                                                            : victim,
                           folder + "/x.tga");
        ASSERT_EQ(::lchown((folder + "/x.tga").c_str(), row.linkOwner, 0), 0);
        Replacing replacing;
        const bool opened = replacing.Open((folder + "/" + row.destination).c_str());
        EXPECT_STREQ(replacing.file.FailureText(), row.failure);
        EXPECT_EQ(Attempt(replacing, "new"), opened ? "" : GFXStream::kUnableToWriteText);
        EXPECT_EQ(ReadBytes(victim), (opened ? Bytes{'n', 'e', 'w'} : Bytes{1, 2, 3}));
        EXPECT_FALSE(FileExists(scratch / "none"));
    }
    // Under -r, another user's link in a shared folder is not read.
    ScratchDir scratch;
    fs::create_directories(scratch / "in");
    ASSERT_EQ(::chmod((scratch / "in").c_str(), 0777), 0);
    WriteBytes(scratch / "private.tga", SmallTga(1));
    fs::create_symlink(scratch / "private.tga", scratch / "in/l.tga");
    ASSERT_EQ(::lchown((scratch / "in/l.tga").c_str(), kOther, 0), 0);
    const ProcessResult result = RunCli({"-r", "-o", scratch / "out", scratch / "in"});
    EXPECT_EQ(LineOf(result, "l.tga"),
              std::string("l.tga: Unable to open file (") + kUntrustedLinkText + ")");
    EXPECT_FALSE(FileExists(scratch / "out/l.tga"));
}

// What the batch's plan learnt stands for a second look only while it
// holds: a file that appeared, another file at the name, or another folder
// at the path is met as it would be without the plan.
TEST(FileLayer, PlannedDestinationThatChangedIsResolvedAfresh) {
    enum Change { kNone, kFileAppeared, kOtherFile, kOtherFolder };
    for (const Change change : {kNone, kFileAppeared, kOtherFile, kOtherFolder}) {
        SCOPED_TRACE(change);
        ScratchDir scratch;
        const std::string folder = scratch / "out";
        const std::string target = folder + "/x.tga";
        fs::create_directories(folder);
        if (change == kOtherFile) {
            WriteBytes(target, {1});
        }
        KnownDestination known{true, change == kOtherFile, FileIdentity(target),
                               FileIdentity(folder)};
        if (change == kFileAppeared || change == kOtherFile) {
            WriteBytes(target + ".other", {7});  // a file of its own while the old one stands
            ::chmod((target + ".other").c_str(), 0640);
            fs::rename(target + ".other", target);
        } else if (change == kOtherFolder) {
            fs::rename(folder, scratch / "old");
            fs::create_directories(folder);
        }
        FolderCache folders;
        Replacing replacing;
        ASSERT_TRUE(
            replacing.file.Open(target.c_str(), IfNameTaken::Replace, false, &known, &folders));
        ASSERT_TRUE(replacing.out.Attach(replacing.file.Handle()));
        EXPECT_EQ(Attempt(replacing, "new"), "");
        EXPECT_EQ(ReadBytes(target), (Bytes{'n', 'e', 'w'}));
        const mode_t mask = ::umask(0);
        ::umask(mask);
        EXPECT_EQ(fs::status(target).permissions(),
                  fs::perms(change == kFileAppeared || change == kOtherFile ? 0640 : 0666 & ~mask));
        EXPECT_EQ(Listing(folder), std::vector<std::string>{"x.tga"});
        EXPECT_FALSE(FileExists(scratch / "old/x.tga"));
    }
}

// A file repaired in place is read and replaced through one descriptor
// while it is the file the plan found; the input keeps it open, and the new
// file still takes the old one's mode. A file put at the name since is read
// as any file, and its replacement looks at it afresh.
TEST(FileLayer, InPlaceSourceLendsItsDescriptor) {
    for (const bool swapped : {false, true}) {
        SCOPED_TRACE(swapped);
        ScratchDir scratch;
        const std::string folder = scratch / "in";
        const std::string target = folder + "/x.tga";
        fs::create_directories(folder);
        WriteBytes(target, {1, 2, 3});
        const KnownDestination known{true, true, FileIdentity(target), FileIdentity(folder)};
        if (swapped) {
            WriteBytes(target + ".other", {4, 5, 6});
            fs::rename(target + ".other", target);
        }
        ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
        FolderCache folders;
        GFXStream::MappedFileInputStream input;
        ASSERT_TRUE(input.Open(target.c_str(), &known, &folders));
        EXPECT_EQ(input.AsOpened().asPlanned, !swapped);
        Replacing replacing;
        ASSERT_TRUE(replacing.file.Open(target.c_str(), IfNameTaken::Replace, false, &known,
                                        &folders, &input.AsOpened()));
        EXPECT_EQ(replacing.file.SharesSource(), !swapped);
        ASSERT_TRUE(replacing.out.Attach(replacing.file.Handle()));
        EXPECT_EQ(Attempt(replacing, "new"), "");
        EXPECT_NE(::fcntl(input.Handle(), F_GETFD), -1);
        input.Close();
        EXPECT_EQ(ReadBytes(target), (Bytes{'n', 'e', 'w'}));
        EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    }
}

// A batch into many folders holds only a few of them open at once.
TEST(FileLayer, FolderCacheHoldsFewFoldersOpen) {
    ScratchDir scratch;
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    const auto before = openFiles();
    FolderCache folders;
    for (std::size_t i = 0; i < 4 * FolderCache::kMostFolders; ++i) {
        const char* failure = nullptr;
        ASSERT_NE(folders.Open(scratch / ("f" + std::to_string(i)), true, failure), nullptr);
    }
    EXPECT_LE(openFiles() - before, static_cast<long>(FolderCache::kMostFolders));
}

TEST(FileLayer, ReplacedFileNeverGivesAccessTheOldOneDidNot) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "acting as other users needs root";
    }
    struct Row {
        uid_t owner;
        gid_t group;
        mode_t mode, newMode;
        bool noDump, asVictim;
        const char* line;
    };
    const Row rows[] = {
        {kVictim, kTeamGroup, 0640, 0600, false, true, "(not kept: group, group permissions)"},
        {kVictim, kTeamGroup, 02770, 0700, false, true,
         "(not kept: group, group permissions, set-group-ID bit)"},
        {kOther, kVictim, 06777, 0777, false, true,
         "(not kept: owner, set-user-ID bit, set-group-ID bit)"},
        {0, 0, 0644, 0644, true, false, ""}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        ScratchDir scratch;
        const std::string file = scratch / "f/x.tga";
        fs::create_directories(scratch / "f");
        ASSERT_EQ(::chmod((scratch / "f").c_str(), 0777), 0);
        WriteBytes(file, SmallTga(6));
        ASSERT_EQ(::chown(file.c_str(), row.owner, row.group), 0);
        ASSERT_EQ(::chmod(file.c_str(), row.mode), 0);
        if (row.noDump && std::system(("chattr +d " + file + " 2>/dev/null").c_str()) != 0) {
            GTEST_SKIP() << "this file system keeps no such flag";
        }
        ProcessOptions options;
        options.user = row.asVictim ? std::optional<uid_t>(kVictim) : std::nullopt;
        const ProcessResult result = RunCli({"-o", scratch / "f", file}, options);
        EXPECT_EQ(LineOf(result, "x.tga"),
                  file + "->" + file + "...Done" + (*row.line ? " " : "") + row.line);
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, row.newMode);
        if (row.noDump) {
            EXPECT_EQ(std::system(("lsattr " + file + " | cut -c1-20 | grep -q d").c_str()), 0);
        }
    }
}

}  // namespace
