// The batch's plan on real folders: what each job may write, decided once
// and alike for the run and the dry run, and the descriptors it holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "HardeningSupport.h"
#include "batch/ConvertOneFile.h"

using namespace Batch;

namespace fs = std::filesystem;

namespace {

Bytes Picture(std::uint32_t seed) {
    TgaSpec spec;
    spec.descriptor = 0x20;  // top-down: a repair changes every byte order
    spec.seed = seed;
    return MakeTga(spec);
}

// Under a low limit on open files, soft and hard alike, every file of a
// batch converts: in place, into a new folder and over earlier outputs,
// with one job or several.
TEST(BatchPlan, EveryFileConvertsUnderALowOpenFileLimit) {
    constexpr int kFiles = 200;
    ScratchDir scratch;
    fs::create_directories(scratch / "in");
    for (int i = 0; i < kFiles; ++i) {
        WriteBytes(scratch / ("in/f" + std::to_string(i) + ".tga"), Picture(1));
    }
    const std::pair<const char*, const char*> runs[] = {
        {"in", "1"}, {"in", "8"}, {"out", "8"}, {"out", "1"}};
    ProcessOptions options;
    options.openFileLimit = 256;
    for (const auto& [output, jobs] : runs) {
        SCOPED_TRACE(std::string(output) + " -j " + jobs);
        const ProcessResult result =
            RunCli({"-j", jobs, "-o", scratch / output, scratch / "in"}, options);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_NE(result.output.find(std::to_string(kFiles) + " converted, 0 failed"),
                  std::string::npos)
            << result.output.substr(0, 400);
    }
    EXPECT_EQ(ReadBytes(scratch / "out/f7.tga"), NormalForm(Picture(1)));
}

// Jobs that lead to one file: an input of the batch is written only by its
// own job; a later job converts when nothing was written before it; two
// names of one file are one file; only a real clash fails.
TEST(BatchPlan, JobsThatShareADestinationAreDecidedByWhatWasWritten) {
    struct Case {
        const char* name;
        std::function<void(const ScratchDir&)> make;
        std::vector<std::string> arguments;
        std::string log;
        int status;
        const char* checked;  // a file that must hold the normal form of Picture(2)
        int runs = 1;         // a second run over the first one's outputs ends alike
    };
    const auto file = [](const ScratchDir& at, const char* path, const Bytes& bytes) {
        fs::create_directories(fs::path(at / path).parent_path());
        WriteBytes(at / path, bytes);
    };
    const Case cases[] = {
        {"an input is written by its own job only",
         [&](const ScratchDir& at) {
             file(at, "d1/x.tga", Picture(1));
             file(at, "d2/x.tga", Picture(2));
         },
         {"-o", "d2", "d1/x.tga", "d2/x.tga"},
         std::string("d1/x.tga->d2/x.tga...Error: ") + kDestinationReadText +
             "\nd2/x.tga->d2/x.tga...Done\n1 converted, 1 failed\n",
         1,
         "d2/x.tga"},
        {"a name whose first file failed",
         [&](const ScratchDir& at) {
             file(at, "a/x.tga", Bytes(40, 0xFF));
             file(at, "b/x.tga", Picture(2));
         },
         {"-o", "out", "a/x.tga", "b/x.tga"},
         "a/x.tgaError: ReadTGA: Unsupported image type\nb/x.tga->out/x.tga...Done\n"
         "1 converted, 1 failed\n",
         1,
         "out/x.tga"},
        {"a link to a file of an in-place tree",
         [&](const ScratchDir& at) {
             file(at, "in/real/r.tga", Picture(2));
             fs::create_symlink("real/r.tga", at / "in/link.tga");
         },
         {"-r", "-o", "in", "in"},
         std::string("link.tga->in/link.tga...Done\nreal/r.tga->in/real/r.tga...Done (") +
             kSameFileText + " link.tga)\n1 converted, 0 failed, 1 skipped\n",
         0,
         "in/real/r.tga",
         2},
        {"two hard links in place",
         [&](const ScratchDir& at) {
             file(at, "in/a.tga", Picture(2));
             fs::create_hard_link(at / "in/a.tga", at / "in/b.tga");
         },
         {"-o", "in", "in/a.tga", "in/b.tga"},
         std::string("in/a.tga->in/a.tga...Done\nin/b.tga->in/b.tga...Done (") + kSameFileText +
             " in/a.tga)\n1 converted, 0 failed, 1 skipped\n",
         0,
         "in/a.tga"},
        {"two files for one name",
         [&](const ScratchDir& at) {
             file(at, "a/x.tga", Picture(2));
             file(at, "b/x.tga", Picture(1));
         },
         {"-o", "out", "a/x.tga", "b/x.tga"},
         std::string("a/x.tga->out/x.tga...Done\nb/x.tga->out/x.tga...Error: ") +
             kDestinationTakenText + "\n1 converted, 1 failed\n",
         1,
         "out/x.tga"},
    };
    for (const Case& c : cases) {
        for (const char* jobs : {"1", "4"}) {
            SCOPED_TRACE(std::string(c.name) + ", -j " + jobs);
            ScratchDir scratch;
            c.make(scratch);
            ProcessOptions options;
            options.workingFolder = scratch.Path();
            std::vector<std::string> arguments = {"-j", jobs};
            arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
            for (int run = 0; run < c.runs; ++run) {
                const ProcessResult result = RunCli(arguments, options);
                EXPECT_EQ(result.output, c.log);
                EXPECT_EQ(result.exitStatus, c.status);
            }
            EXPECT_EQ(ReadBytes(scratch / c.checked), NormalForm(Picture(2)));
        }
    }
}

// Where the run would fail before reading the source, the dry run says so
// in the same words, and both leave everything as it was.
TEST(BatchPlan, DryRunFailsWhereTheRunFails) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "Not a directory"},      // -o names a regular file
        {"plain/sub", "Not a directory"},  // a folder that cannot be created
        {"folders", "Is a directory"},     // the destination is a folder
    };
    for (const auto& [output, reason] : cases) {
        SCOPED_TRACE(output);
        ScratchDir scratch;
        WriteBytes(scratch / "a.tga", Picture(1));
        WriteBytes(scratch / "plain", {1, 2, 3});
        fs::create_directories(scratch / "folders/a.tga");
        ProcessOptions options;
        options.workingFolder = scratch.Path();
        const std::string line =
            std::string("a.tga->") + output + "/a.tga...Unable to open file (" + reason + ")\n";
        const ProcessResult dry = RunCli({"-n", "-o", output, "a.tga"}, options);
        EXPECT_EQ(dry.output, line + "0 would be converted, 1 failed\n");
        EXPECT_EQ(dry.exitStatus, 1);
        const ProcessResult run = RunCli({"-o", output, "a.tga"}, options);
        EXPECT_EQ(run.output, line + "0 converted, 1 failed\n");
        EXPECT_EQ(run.exitStatus, 1);
        EXPECT_EQ(ReadBytes(scratch / "plain"), (Bytes{1, 2, 3}));
        EXPECT_EQ(Listing(scratch / "folders/a.tga"), std::vector<std::string>{});
    }
}

}  // namespace
