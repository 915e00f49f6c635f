// tessary-cli run as a process: its options, standard output and exit status.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include <gtest/gtest.h>

#include "batch/ConvertOneFile.h"
#include "support/AppTestSupport.h"

using namespace Batch;

extern char** environ;

namespace {

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string AsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Where the program's standard streams lead, when not to the defaults
// (input /dev/null, output and errors captured in files).
struct CliIo {
    std::string input = "/dev/null";
    std::string output;                    // "" captures it
    int errors = -1;                       // a descriptor for standard error; -1 captures it
    std::vector<std::string> environment;  // empty keeps the test's own
};

class CliTest : public ::testing::Test {
  protected:
    // Starts the program in the temporary folder, so relative paths are
    // relative to it; Wait collects what it printed.
    pid_t Start(std::vector<std::string> arguments, const CliIo& io = {}) {
        arguments.insert(arguments.begin(), TESSARY_CLI_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment = io.environment;
        std::vector<char*> envp;
        for (std::string& variable : environment) {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        const std::string outPath = io.output.empty() ? temp / ".stdout" : io.output;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, io.input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        if (io.errors < 0) {
            posix_spawn_file_actions_addopen(&actions, 2, (temp / ".stderr").c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        } else {
            posix_spawn_file_actions_adddup2(&actions, io.errors, 2);
        }
        posix_spawn_file_actions_addchdir_np(&actions, temp.Path().c_str());
        pid_t pid = -1;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                        io.environment.empty() ? environ : envp.data()) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    CliRun Wait(pid_t pid) {
        CliRun run;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        run.out = AsText(ReadFileBytes(temp / ".stdout"));
        run.err = AsText(ReadFileBytes(temp / ".stderr"));
        std::remove((temp / ".stdout").c_str());
        std::remove((temp / ".stderr").c_str());
        return run;
    }

    CliRun Cli(std::vector<std::string> arguments, const CliIo& io = {}) {
        return Wait(Start(std::move(arguments), io));
    }

    void MakeFolder(const std::string& relative) const {
        ASSERT_EQ(::mkdir((temp / relative).c_str(), 0755), 0);
    }
    void MakeTGA(const std::string& relative, int width = 2) const {
        WriteFileBytes(temp / relative, MakeTrueColourTGA(width, 2, true, false));
    }

    TempDir temp;
};

TEST_F(CliTest, ConvertsFilesIntoANewFolderAndPrintsLogAndSummary) {
    MakeFolder("in");
    MakeTGA("in/a.tga");
    MakeTGA("in/b.tga", 3);

    const CliRun run = Cli({"-o", "out/deeper", "in/a.tga", "in/b.tga"});

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "in/a.tga->out/deeper/a.tga...Done\n"
              "in/b.tga->out/deeper/b.tga...Done\n"
              "2 converted, 0 failed\n");
    EXPECT_EQ(run.err, "");  // no progress line when standard error is no terminal
    EXPECT_EQ(ReadFileBytes(temp / "out/deeper/b.tga"), ExpectedPlainTGA(3, 2));
}

TEST_F(CliTest, AnyFailedFileGivesStatusOne) {
    MakeTGA("a.tga");

    const CliRun run = Cli({"--output", "out", "missing.tga", "a.tga"});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "missing.tga: Unable to open file (No such file or directory)\n"
              "a.tga->out/a.tga...Done\n"
              "1 converted, 1 failed\n");
}

TEST_F(CliTest, QuietPrintsOnlyTheSummary) {
    MakeTGA("a.tga");
    const CliRun run = Cli({"-q", "-o", "out", "a.tga"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "1 converted, 0 failed\n");
}

TEST_F(CliTest, RunLengthOption) {
    MakeTGA("a.tga");
    ASSERT_EQ(Cli({"--rle", "-o", "out", "a.tga"}).status, 0);
    EXPECT_EQ(ReadFileBytes(temp / "out/a.tga").at(2), 10);
}

TEST_F(CliTest, FolderMeansItsTGAFilesInAnyCaseAndRecursiveKeepsTheTree) {
    MakeFolder("in");
    MakeFolder("in/sub");
    MakeTGA("in/b.tga");
    MakeTGA("in/A.TGA");
    MakeTGA("in/sub/c.Tga");
    WriteFileBytes(temp / "in/notes.txt", {'x'});

    const CliRun flat = Cli({"-o", "flat", "in"});
    const CliRun tree = Cli({"-r", "-o", "tree", "in"});

    EXPECT_EQ(flat.out,
              "A.TGA->flat/A.TGA...Done\n"
              "b.tga->flat/b.tga...Done\n"
              "2 converted, 0 failed\n");
    EXPECT_EQ(tree.status, 0);
    EXPECT_EQ(tree.out,
              "A.TGA->tree/A.TGA...Done\n"
              "b.tga->tree/b.tga...Done\n"
              "sub/c.Tga->tree/sub/c.Tga...Done\n"
              "3 converted, 0 failed\n");
    EXPECT_EQ(ListFolder(temp / "tree/sub"), std::vector<std::string>{"c.Tga"});
}

TEST_F(CliTest, OutputBelowASourceFolderIsNeverAnInput) {
    MakeFolder("in");
    MakeTGA("in/a.tga");

    const CliRun first = Cli({"-r", "-o", "in/fixed", "in"});
    const CliRun second = Cli({"-r", "-o", "in/fixed", "in"});

    EXPECT_EQ(first.out, "a.tga->in/fixed/a.tga...Done\n1 converted, 0 failed\n");
    EXPECT_EQ(second.out, first.out);
    EXPECT_EQ(ListFolder(temp / "in/fixed"), std::vector<std::string>{"a.tga"});
}

TEST_F(CliTest, OutputEqualToTheSourceFolderRewritesInPlace) {
    MakeFolder("in");
    WriteFileBytes(temp / "in/a.tga", MakeTrueColourTGA(2, 2, false, true, "id"));

    const CliRun run = Cli({"-o", "in", "in"});

    EXPECT_EQ(run.out, "a.tga->in/a.tga...Done\n1 converted, 0 failed\n");
    EXPECT_EQ(ReadFileBytes(temp / "in/a.tga"), ExpectedPlainTGA(2, 2));
}

TEST_F(CliTest, SameNameFromTwoFoldersFailsTheLaterOne) {
    MakeFolder("a");
    MakeFolder("b");
    MakeTGA("a/x.tga", 2);
    MakeTGA("b/x.tga", 5);

    const CliRun run = Cli({"-o", "out", "a/x.tga", "b"});

    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string("a/x.tga->out/x.tga...Done\n") + "x.tga->out/x.tga...Error: " +
                           kDestinationTakenText + "\n" + "1 converted, 1 failed\n");
    EXPECT_EQ(ReadFileBytes(temp / "out/x.tga"), ExpectedPlainTGA(2, 2));
}

TEST_F(CliTest, NamesThatAreNotUtf8PassThrough) {
    const std::string name = "\xff\xfe.tga";
    MakeTGA(name);

    const CliRun run = Cli({"-o", "out", name});

    EXPECT_EQ(run.out, name + "->out/" + name + "...Done\n1 converted, 0 failed\n");
    EXPECT_TRUE(FileExists(temp / ("out/" + name)));
}

TEST_F(CliTest, CheckReportsNormalAndNonNormalFilesAndWritesNothing) {
    WriteFileBytes(temp / "plain.tga", ExpectedPlainTGA(2, 2));
    WriteFileBytes(temp / "odd.tga", MakeTrueColourTGA(2, 2, true, true, "id"));

    const CliRun normal = Cli({"--check", "plain.tga"});
    const CliRun mixed = Cli({"--check", "plain.tga", "odd.tga", "gone.tga"});

    EXPECT_EQ(normal.status, 0);
    EXPECT_EQ(normal.out,
              "plain.tga: normal form\n1 in normal form, 0 not in normal form, 0 failed\n");
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(mixed.out,
              "plain.tga: normal form\n"
              "odd.tga: not in normal form: top-down, right-to-left, image ID\n"
              "gone.tga: Unable to open file (No such file or directory)\n"
              "1 in normal form, 1 not in normal form, 1 failed\n");
    EXPECT_EQ(ListFolder(temp.Path()), (std::vector<std::string>{"odd.tga", "plain.tga"}));
}

TEST_F(CliTest, HelpShowsAnExampleAndVersionTheNumber) {
    const CliRun help = Cli({"--help"});
    const CliRun version = Cli({"--version"});

    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("tessary-cli -o fixed"), std::string::npos) << help.out;
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = help.out.find('\n', start);
        EXPECT_LT((end == std::string::npos ? help.out.size() : end) - start, 80u) << "too wide";
    }
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tessary-cli ", 0), 0u) << version.out;
}

struct UsageCase {
    const char* label;
    std::vector<std::string> arguments;
};

class CliUsageTest : public CliTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(CliUsageTest, IsAUsageErrorThatWritesNothing) {
    MakeTGA("a.tga");
    const CliRun run = Cli(GetParam().arguments);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_EQ(run.err.rfind("tessary-cli: ", 0), 0u) << run.err;
    EXPECT_FALSE(FileExists(temp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsageTest,
    ::testing::Values(UsageCase{"NoArguments", {}}, UsageCase{"NoOutputFolder", {"a.tga"}},
                      UsageCase{"NoFiles", {"-o", "out"}},
                      UsageCase{"UnknownOption", {"--frobnicate", "-o", "out", "a.tga"}},
                      UsageCase{"OutputWithoutValue", {"a.tga", "-o"}},
                      UsageCase{"CheckWithOutput", {"--check", "-o", "out", "a.tga"}},
                      UsageCase{"CheckWithRle", {"--check", "--rle", "a.tga"}},
                      UsageCase{"SkipNormalWithRle",
                                {"--skip-normal", "--rle", "-o", "out", "a.tga"}},
                      UsageCase{"NameOutsideTheBase", {"--base", "in", "-o", "out", "a.tga"}}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

// What scripts lean on, each case run in a folder holding a.tga (good),
// bad.tga (cut short), in/x.tga, old/a.tga (an earlier output) and two lists
// of inputs.
struct ScriptCase {
    const char* label;
    std::vector<std::string> arguments;
    int status;
    std::string out;
    std::string err;
    std::vector<std::string> oldAfter = {"a.tga"};  // what "old" holds afterwards
    std::string input = "/dev/null";
};

class CliScriptTest : public CliTest, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(CliScriptTest, PrintsAndWritesWhatScriptsExpect) {
    MakeTGA("a.tga");
    WriteFileBytes(temp / "bad.tga", {1, 2, 3});
    MakeFolder("in");
    MakeTGA("in/x.tga");
    MakeFolder("old");
    WriteFileBytes(temp / "old/a.tga", {'o', 'l', 'd'});
    const std::string lines = "a.tga\nin/x.tga\n";
    WriteFileBytes(temp / "lines.txt", Bytes(lines.begin(), lines.end()));
    const std::string nul("in/x.tga\0a.tga\0", 16);
    WriteFileBytes(temp / "nul.txt", Bytes(nul.begin(), nul.end()));
    const ScriptCase& c = GetParam();

    CliIo io;
    io.input = c.input.empty() || c.input[0] == '/' ? c.input : temp / c.input;
    const CliRun run = Cli(c.arguments, io);

    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(ListFolder(temp / "old"), c.oldAfter);
    EXPECT_FALSE(FileExists(temp / "out")) << "no folder without a file written into it";
    if (c.oldAfter.size() == 1) {
        EXPECT_EQ(ReadFileBytes(temp / "old/a.tga"), (Bytes{'o', 'l', 'd'}));
    }
}

const std::string kCut = "Error: ReadTGA: Unexpected end of input\n";
const std::string kMissing = ": Unable to open file (No such file or directory)\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, CliScriptTest,
    ::testing::Values(
        ScriptCase{"MissingFolderWithSlash",
                   {"-o", "out", "nosuch/"},
                   1,
                   "nosuch/" + kMissing + "0 converted, 1 failed\n",
                   ""},
        ScriptCase{"MissingFolder",
                   {"-o", "out", "nosuch"},
                   1,
                   "nosuch" + kMissing + "0 converted, 1 failed\n",
                   ""},
        ScriptCase{"EmptyName", {"-o", "out", ""}, 1, kMissing + "0 converted, 1 failed\n", ""},
        ScriptCase{"OnlyFailedFileMakesNoFolder",
                   {"-o", "out/deep", "bad.tga"},
                   1,
                   "bad.tga" + kCut + "0 converted, 1 failed\n",
                   ""},
        ScriptCase{"QuietStillListsFailures",
                   {"-q", "-o", "old", "bad.tga", "in/x.tga"},
                   1,
                   "1 converted, 1 failed\n",
                   "bad.tga" + kCut,
                   {"a.tga", "x.tga"}},
        ScriptCase{"NoClobberSkipsExistingFiles",
                   {"--no-clobber", "-o", "old", "a.tga", "in/x.tga"},
                   0,
                   "a.tga->old/a.tga...Skipped (File exists)\n"
                   "in/x.tga->old/x.tga...Done\n1 converted, 0 failed, 1 skipped\n",
                   "",
                   {"a.tga", "x.tga"}},
        ScriptCase{"DryRunWritesNothing",
                   {"-n", "-o", "old", "a.tga", "bad.tga", "in/x.tga"},
                   1,
                   "a.tga->old/a.tga...Would replace the existing file\nbad.tga" + kCut +
                       "in/x.tga->old/x.tga...Would be written\n"
                       "2 would be converted, 1 failed\n",
                   ""},
        ScriptCase{"FilesFromLines",
                   {"--files-from", "lines.txt", "-o", "old"},
                   0,
                   "a.tga->old/a.tga...Done\nin/x.tga->old/x.tga...Done\n"
                   "2 converted, 0 failed\n",
                   "",
                   {"a.tga", "x.tga"}},
        ScriptCase{"FilesFromStandardInputNulSeparated",
                   {"--files-from", "-", "-0", "-o", "old", "bad.tga"},
                   1,
                   "bad.tga" + kCut +
                       "in/x.tga->old/x.tga...Done\na.tga->old/a.tga...Done\n"
                       "2 converted, 1 failed\n",
                   "",
                   {"a.tga", "x.tga"},
                   "nul.txt"},
        ScriptCase{"BaseKeepsThePathsOfAList",
                   {"--files-from", "lines.txt", "--base", ".", "-o", "old"},
                   0,
                   "a.tga->old/a.tga...Done\nin/x.tga->old/in/x.tga...Done\n"
                   "2 converted, 0 failed\n",
                   "",
                   {"a.tga", "in"}},
        ScriptCase{"CheckNotInNormalFormIsFour",
                   {"--check", "a.tga"},
                   4,
                   "a.tga: not in normal form: top-down\n"
                   "0 in normal form, 1 not in normal form, 0 failed\n",
                   ""},
        ScriptCase{"FailedListThatCannotBeWrittenIsThree",
                   {"--failed-to", "nosuch/list", "-o", "old", "in/x.tga"},
                   3,
                   "in/x.tga->old/x.tga...Done\n1 converted, 0 failed\n",
                   "tessary-cli: cannot write nosuch/list (No such file or directory)\n",
                   {"a.tga", "x.tga"}},
        ScriptCase{"FilesFromMissingList",
                   {"--files-from", "none.txt", "-o", "out"},
                   2,
                   "",
                   "tessary-cli: cannot read none.txt (No such file or directory)\n"}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

TEST_F(CliTest, LogOrHelpThatCannotBeWrittenIsARunNotDone) {
    MakeTGA("a.tga");
    CliIo io;
    io.output = "/dev/full";
    const CliRun run = Cli({"-o", "out", "a.tga"}, io);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "tessary-cli: cannot write the log (No space left on device)\n");
    const CliRun help = Cli({"--help"}, io);
    EXPECT_EQ(help.status, 3);
    EXPECT_EQ(help.err, "tessary-cli: cannot write to standard output (No space left on device)\n");
}

// A repaired tree run again: every file is skipped unwritten (the same inode
// and time), with --keep-alpha-bits too; a file that needs it is converted.
TEST_F(CliTest, SkipNormalRerunOfARepairedTreeWritesNothing) {
    MakeFolder("in");
    MakeFolder("in/sub");
    MakeTGA("in/a.tga");
    Bytes withAlpha = MakeTrueColourTGA(3, 2, true, false);
    withAlpha[17] |= 0x08;
    WriteFileBytes(temp / "in/sub/alpha.tga", withAlpha);
    ASSERT_EQ(Cli({"-r", "--keep-alpha-bits", "-o", "in", "in"}).status, 0);
    MakeTGA("in/new.tga");
    struct stat before {};
    ASSERT_EQ(::stat((temp / "in/a.tga").c_str(), &before), 0);
    const CliRun run = Cli({"-r", "--skip-normal", "--keep-alpha-bits", "-o", "in", "in"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "a.tga->in/a.tga...Skipped (already in normal form)\n"
              "new.tga->in/new.tga...Done\n"
              "sub/alpha.tga->in/sub/alpha.tga...Skipped (already in normal form)\n"
              "1 converted, 0 failed, 2 skipped\n");
    struct stat after {};
    ASSERT_EQ(::stat((temp / "in/a.tga").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

// Failed names come back byte for byte and rerun to the same destinations.
TEST_F(CliTest, FailedListRerunsExactlyTheFailedFiles) {
    MakeFolder("assets");
    MakeFolder("assets/sub");
    MakeTGA("assets/sub/good.tga");
    const std::string cut = "assets/sub/cut\n1.tga";
    WriteFileBytes(temp / cut, {1, 2, 3});

    const CliRun first =
        Cli({"-r", "--base", "assets", "-o", "fixed", "--failed-to", "failed", "assets"});
    EXPECT_EQ(first.status, 1);
    EXPECT_EQ(AsText(ReadFileBytes(temp / "failed")), cut + '\0');

    MakeTGA(cut);
    const CliRun rerun = Cli({"-0", "--files-from", "failed", "--base", "assets", "-o", "fixed",
                              "--failed-to", "failed"});
    EXPECT_EQ(rerun.status, 0);
    EXPECT_EQ(rerun.out,
              "assets/sub/cut?1.tga->fixed/sub/cut?1.tga...Done\n1 converted, 0 failed\n");
    EXPECT_EQ(ReadFileBytes(temp / "fixed/sub/cut\n1.tga"), ExpectedPlainTGA(2, 2));
    EXPECT_TRUE(ReadFileBytes(temp / "failed").empty());
}

TEST_F(CliTest, PreserveTimestampsKeepsTheSourcesTimesAlsoInPlace) {
    MakeTGA("a.tga");
    const timespec old[2] = {{1000000000, 5}, {981173106, 7}};
    for (const std::string folder : {"copy", "."}) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (temp / "a.tga").c_str(), old, 0), 0);
        ASSERT_EQ(Cli({"-p", "-o", folder, "a.tga"}).status, 0);
        struct stat info {};
        ASSERT_EQ(::stat((temp / (folder + "/a.tga")).c_str(), &info), 0);
        EXPECT_EQ(info.st_atim.tv_sec, old[0].tv_sec) << folder;
        EXPECT_EQ(info.st_mtim.tv_sec, old[1].tv_sec) << folder;
        EXPECT_EQ(info.st_mtim.tv_nsec, old[1].tv_nsec) << folder;
    }
    EXPECT_EQ(ReadFileBytes(temp / "a.tga"), ExpectedPlainTGA(2, 2));
}

// C1 controls, as characters or lone bytes, show as '?'; U+011B stays.
TEST_F(CliTest, CheckNamesEachFileByItsWholePathAndHidesC1Controls) {
    MakeFolder("a");
    MakeFolder("b");
    for (const char* name :
         {"a/x.tga", "b/x.tga", "b/c\xc2\x9b.tga", "b/d\x9b.tga", "b/e\xc4\x9b.tga"}) {
        WriteFileBytes(temp / name, ExpectedPlainTGA(2, 2));
    }
    const CliRun run = Cli({"--check", "-r", "a", "b"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "a/x.tga: normal form\nb/c?.tga: normal form\nb/d?.tga: normal form\n"
              "b/e\xc4\x9b.tga: normal form\nb/x.tga: normal form\n"
              "5 in normal form, 0 not in normal form, 0 failed\n");
}

// Bash completion keeps a name with spaces whole after -o and --files-from.
TEST_F(CliTest, CompletionKeepsNamesWithSpaces) {
    MakeFolder("my dir");
    WriteFileBytes(temp / "my list", {'x'});
    const std::string script = "cd '" + temp.Path() +
                               "' && bash -c '. " TESSARY_SOURCE_DIR
                               "/docs/completion/tessary-cli; for o in -o --files-from; do "
                               "COMP_WORDS=(tessary-cli $o my); COMP_CWORD=2; _tessary_cli; "
                               "printf \"%s|\" \"${COMPREPLY[@]}\"; done' > completed";
    ASSERT_EQ(std::system(script.c_str()), 0);
    EXPECT_EQ(AsText(ReadFileBytes(temp / "completed")), "my dir|my dir|my list|");
}

TEST_F(CliTest, KeepAlphaBitsKeepsTheDescriptorsCount) {
    Bytes withAlpha = MakeTrueColourTGA(2, 2, true, false);
    withAlpha[17] |= 0x08;
    WriteFileBytes(temp / "a.tga", withAlpha);
    ASSERT_EQ(Cli({"-o", "plain", "a.tga"}).status, 0);
    ASSERT_EQ(Cli({"--keep-alpha-bits", "-o", "kept", "a.tga"}).status, 0);
    EXPECT_EQ(ReadFileBytes(temp / "plain/a.tga").at(17), 0);
    EXPECT_EQ(ReadFileBytes(temp / "kept/a.tga").at(17), 0x08);
    // --check answers for the conversion with the same choice.
    EXPECT_EQ(Cli({"--check", "plain/a.tga", "kept/a.tga"}).out,
              "plain/a.tga: normal form\n"
              "kept/a.tga: not in normal form: attribute bits in the image descriptor\n"
              "1 in normal form, 1 not in normal form, 0 failed\n");
    EXPECT_EQ(Cli({"--check", "--keep-alpha-bits", "kept/a.tga"}).status, 0);
}

// Many inputs keep the batch busy after its first line, so the signal
// arrives while files are in hand. (A lease no longer holds the batch: an
// input held by another program fails at once.)
class CliSignalTest : public CliTest, public ::testing::WithParamInterface<int> {};

TEST_P(CliSignalTest, EndsWithTheShellsStatusAfterTheSummary) {
    std::vector<std::string> arguments = {"-j", "1", "-o", "out"};
    MakeFolder("in");
    for (int i = 0; i < 400; ++i) {
        arguments.push_back("in/" + std::to_string(i) + ".tga");
        MakeTGA(arguments.back(), 64);
    }
    const pid_t pid = Start(arguments);
    ASSERT_GT(pid, 0);
    const auto running = [pid] {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    };
    while (running() && ReadFileBytes(temp / ".stdout").empty()) {
        ::usleep(500);
    }
    ::kill(pid, GetParam());
    while (running()) {
        ::usleep(1000);
    }
    const CliRun run = Wait(pid);
    EXPECT_EQ(run.status, 128 + GetParam());
    EXPECT_NE(run.out.find(" converted, "), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("tessary-cli: interrupted"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Signals, CliSignalTest, ::testing::Values(SIGINT, SIGTERM));

// Escape codes only reach a terminal that understands them.
TEST_F(CliTest, ProgressLineOnlyOnATerminalThatIsNotDumb) {
    MakeTGA("a.tga");
    const auto errorsOnTerminal = [&](const std::string& term) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        ::grantpt(master);
        ::unlockpt(master);
        const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        CliIo io;
        io.errors = terminal;
        io.environment = {"TERM=" + term, "PATH=/usr/bin:/bin"};
        Cli({"-o", "out-" + term, "a.tga"}, io);
        ::close(terminal);
        std::string shown;
        char buffer[4096];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n = 0; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
            shown.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(master);
        return shown;
    };
    EXPECT_NE(errorsOnTerminal("xterm").find("\033[K"), std::string::npos);
    EXPECT_EQ(errorsOnTerminal("dumb"), "");
}

// The README's recipe, one local job at a time standing in for the hosts, so
// the clash's order is certain: 25 names in shares of 5, share 2 (d 11 to
// d 15) never runs, and d 7, listed first, clashes in the last share.
TEST_F(CliTest, GnuParallelRecipeShowsAMissingShareAndAClash) {
    if (std::system("parallel --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "GNU parallel is not installed";
    }
    MakeFolder("assets");
    MakeFolder("work");
    for (int i = 0; i < 23; ++i) {
        MakeFolder("assets/d " + std::to_string(i));
        MakeTGA("assets/d " + std::to_string(i) + "/a.TGA", 1 + i % 5);
    }
    WriteFileBytes(temp / "assets/d 0/cut.tga", {1, 2, 3});
    const std::string script =
        "cd '" + temp.Path() + "' && PATH='" +
        std::filesystem::path(TESSARY_CLI_PATH).parent_path().string() +
        "':$PATH && src=assets dst=fixed work=work && "
        "{ printf 'assets/d 7/a.TGA\\0'; find \"$src\" -iname '*.tga' -print0 | LC_ALL=C sort -z; "
        "} > \"$work/names\" && "
        "parallel --will-cite -0 --pipe --recend '\\0' -N 5 -j 1 \"test {#} -ne 2 && "
        "tessary-cli -0 --files-from - --base $src -o $dst --no-clobber "
        "--failed-to $work/failed-{#}\" < \"$work/names\" > \"$work/log\"; "
        "awk -v sent=\"$(tr -cd '\\0' < \"$work/names\" | wc -c)\" '"
        "/^[0-9]+ converted, [0-9]+ failed(, [0-9]+ skipped)?$/ { c += $1; f += $3; s += $5; n++ }"
        "END { print c \" converted, \" f \" failed, \" s \" clashed in \" n \" shares\"\n"
        "if (c + f + s != sent) print sent - c - f - s \" names not accounted for: a share did "
        "not run\" }' \"$work/log\"; "
        "cat \"$work\"/failed-* > \"$work/failed\"; tessary-cli --check -r \"$dst\" | tail -n 1";
    ASSERT_NE(std::system(("{ " + script + "; } > '" + temp / "report" + "'").c_str()), -1);
    EXPECT_EQ(AsText(ReadFileBytes(temp / "report")),
              "18 converted, 1 failed, 1 clashed in 4 shares\n"
              "5 names not accounted for: a share did not run\n"
              "18 in normal form, 0 not in normal form, 0 failed\n");
    EXPECT_EQ(AsText(ReadFileBytes(temp / "work/failed")), std::string("assets/d 0/cut.tga\0", 19));
    EXPECT_EQ(ReadFileBytes(temp / "fixed/d 9/a.TGA"), ExpectedPlainTGA(5, 2));
    EXPECT_FALSE(FileExists(temp / "fixed/d 12"));
}

// Forty folders of one file each: one list, so any number of jobs gives the
// same log in list order.
TEST_F(CliTest, RecursiveRunIsOneListWhateverTheJobs) {
    MakeFolder("in");
    for (int i = 0; i < 40; ++i) {
        const std::string folder = "in/d" + std::to_string(10 + i);
        MakeFolder(folder);
        MakeTGA(folder + "/fmap.tga", 1 + i % 7);
    }
    const CliRun one = Cli({"-r", "-j", "1", "-o", "out1", "in"});
    const CliRun four = Cli({"-r", "-j", "4", "-o", "out4", "in"});
    EXPECT_EQ(one.status, 0);
    EXPECT_NE(one.out.find("d10/fmap.tga->out1/d10/fmap.tga...Done\nd11/fmap.tga->"),
              std::string::npos);
    std::string renamed = four.out;
    for (std::size_t at = 0; (at = renamed.find("->out4/", at)) != std::string::npos;) {
        renamed.replace(at, 7, "->out1/");
    }
    EXPECT_EQ(renamed, one.out);
    EXPECT_EQ(ReadFileBytes(temp / "out4/d49/fmap.tga"), ExpectedPlainTGA(5, 2));
}

}  // namespace
