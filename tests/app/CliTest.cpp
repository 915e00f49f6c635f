// tessary-cli run as a process: its options, standard output and exit status.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/ConvertOneFile.h"

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

class CliTest : public ::testing::Test {
  protected:
    // Runs the program in the temporary folder, so relative paths are
    // relative to it.
    CliRun Cli(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TESSARY_CLI_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        const std::string outPath = temp / ".stdout";
        const std::string errPath = temp / ".stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addchdir_np(&actions, temp.Path().c_str());
        pid_t pid = 0;
        CliRun run;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        run.out = AsText(ReadFileBytes(outPath));
        run.err = AsText(ReadFileBytes(errPath));
        std::remove(outPath.c_str());
        std::remove(errPath.c_str());
        return run;
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
    EXPECT_NE(run.err, "");
    EXPECT_FALSE(FileExists(temp / "out"));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliUsageTest,
    ::testing::Values(UsageCase{"NoArguments", {}}, UsageCase{"NoOutputFolder", {"a.tga"}},
                      UsageCase{"NoFiles", {"-o", "out"}},
                      UsageCase{"UnknownOption", {"--frobnicate", "-o", "out", "a.tga"}},
                      UsageCase{"OutputWithoutValue", {"a.tga", "-o"}},
                      UsageCase{"CheckWithOutput", {"--check", "-o", "out", "a.tga"}},
                      UsageCase{"CheckWithRle", {"--check", "--rle", "a.tga"}}),
    [](const auto& testCase) { return std::string(testCase.param.label); });

}  // namespace
