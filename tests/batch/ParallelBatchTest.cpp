// Batches converted several files at once: the log, the files written and
// the summary must be those of the one-by-one batch, whatever order the
// files finish in.
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "batch/ConvertJobs.h"
#include "batch/EmitFinished.h"
#include "support/AppTestSupport.h"
#include "support/Jobs.h"

using namespace Batch;

namespace {

struct Outcome {
    std::string log;
    ConvertSummary summary;
    std::vector<std::pair<std::string, Bytes>> files;
    std::vector<std::size_t> progress;
};

class ParallelBatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::mkdir((temp / "src").c_str(), 0755), 0);
        // Large files first, so that with several jobs the small ones after
        // them finish earlier; failures of every kind in between.
        for (int i = 0; i < 24; ++i) {
            const std::string name = "f" + std::to_string(10 + i) + ".tga";
            const int width = i < 4 ? 900 - 100 * i : 3 + i;
            WriteFileBytes(temp / ("src/" + name),
                           MakeTrueColourTGA(width, 60 + i, i % 2 == 0, i % 3 == 0, "id"));
            names.push_back(name);
        }
        Bytes cut = MakeTrueColourTGA(50, 50, false, false);
        cut.resize(cut.size() / 2);
        WriteFileBytes(temp / "src/cut.tga", cut);
        WriteFileBytes(temp / "src/junk.tga", Bytes{1, 2, 3});
        names.insert(names.begin() + 2, "cut.tga");
        names.insert(names.begin() + 7, "missing.tga");
        names.insert(names.begin() + 11, "junk.tga");
        names.push_back(names[5]);  // the same destination twice: the later one fails
    }

    // Converts the list into a fresh "out" folder, the same path every time,
    // so that the logs of two runs can be compared text for text.
    Outcome Convert(unsigned jobs, const std::atomic<bool>* stop = nullptr,
                    std::size_t stopAfter = SIZE_MAX) {
        const std::string out = temp / "out";
        for (const std::string& name : ListFolder(out)) {
            std::remove((out + "/" + name).c_str());
        }
        ::rmdir(out.c_str());
        EXPECT_EQ(::mkdir(out.c_str(), 0755), 0);

        Outcome outcome;
        auto stopFlag = std::make_unique<std::atomic<bool>>(false);
        ConvertOptions options;
        options.jobs = jobs;
        options.stop = stop != nullptr ? stop : stopFlag.get();
        options.progress = [&](const FileProgress& file) {
            outcome.progress.push_back(file.index);
            if (file.index + 1 == stopAfter) {
                stopFlag->store(true);
            }
        };
        RecordingLog log;
        outcome.summary = ConvertJobs(log, JobsFor(temp / "src", names, out), options);
        outcome.log = log.text;
        for (const std::string& name : ListFolder(out)) {
            outcome.files.emplace_back(name, ReadFileBytes(out + "/" + name));
        }
        return outcome;
    }

    TempDir temp;
    std::vector<std::string> names;
};

TEST_F(ParallelBatchTest, LogFilesAndSummaryAreThoseOfTheSequentialBatch) {
    const Outcome sequential = Convert(1);
    ASSERT_EQ(sequential.summary.failed, 4u);  // cut, missing, junk, the repeated name
    ASSERT_EQ(sequential.summary.converted, 24u);

    for (const unsigned jobs : {2u, 3u, 8u, 64u}) {
        for (int round = 0; round < 3; ++round) {
            const Outcome parallel = Convert(jobs);
            EXPECT_EQ(parallel.log, sequential.log) << jobs << " jobs";
            EXPECT_EQ(parallel.files, sequential.files) << jobs << " jobs";
            EXPECT_EQ(parallel.summary.converted, sequential.summary.converted);
            EXPECT_EQ(parallel.summary.failed, sequential.summary.failed);
            EXPECT_FALSE(parallel.summary.stopped);
            EXPECT_EQ(parallel.progress, sequential.progress) << "progress in list order";
        }
    }
}

TEST_F(ParallelBatchTest, StopEndsAfterAPrefixAndEveryFileWrittenIsLogged) {
    const Outcome all = Convert(1);
    const Outcome stopped = Convert(4, nullptr, 3);

    // Workers may have finished every file before the stop arrives; either
    // way the log is the start of the full log, whole files in list order.
    ASSERT_LE(stopped.log.size(), all.log.size());
    EXPECT_EQ(all.log.compare(0, stopped.log.size(), stopped.log), 0);
    const std::size_t logged = stopped.summary.converted + stopped.summary.failed;
    EXPECT_GE(logged, 3u);
    EXPECT_EQ(stopped.summary.stopped, logged < names.size());
    EXPECT_EQ(stopped.progress.size(), logged);
    // No file reaches the folder without its line in the log.
    for (const auto& [name, bytes] : stopped.files) {
        EXPECT_NE(stopped.log.find(name + "->"), std::string::npos) << name;
    }
}

TEST_F(ParallelBatchTest, StopBeforeTheStartConvertsNothing) {
    const std::atomic<bool> stop{true};
    const Outcome outcome = Convert(4, &stop);
    EXPECT_TRUE(outcome.summary.stopped);
    EXPECT_EQ(outcome.log, "");
    EXPECT_TRUE(outcome.files.empty());
}

TEST_F(ParallelBatchTest, CommandLineLogIsTheSameWithAnyJobs) {
    const auto run = [&](const std::string& jobs) {
        const std::string out = temp / ("out-j" + jobs);
        const std::string command = std::string(TESSARY_CLI_PATH) + " -j " + jobs + " -o '" + out +
                                    "' '" + (temp / "src") + "'";
        std::string text;
        if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
            char buffer[4096];
            std::size_t n = 0;
            while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
                text.append(buffer, n);
            }
            EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 1);  // cut and junk fail
        }
        // The destination folder differs between the runs; only it may.
        for (std::size_t at = text.find(out); at != std::string::npos; at = text.find(out, at)) {
            text.replace(at, out.size(), "OUT");
        }
        return text;
    };
    const std::string one = run("1");
    EXPECT_NE(one.find("f33.tga->OUT/f33.tga...Done\n"), std::string::npos);
    EXPECT_EQ(run("2"), one);
    EXPECT_EQ(run("7"), one);
}

// A file whose text could not be built (memory ran out) still has its line
// and its count, in its place in the list.
TEST(EmitFinishedTest, FileWhoseTextWasLostStillGetsItsLine) {
    RecordingLog log;
    const std::vector<BatchJob> jobs = {{"a", "a.tga", "out/a.tga"}, {"b", "b\tc.tga", "out/b"}};
    const ConvertOptions options;
    BatchRun run{log, jobs, options, {}};
    std::vector<FileResult> results(2);
    results[0] = {"a.tga->out/a.tga...Done\n", FileOutcome::Converted};

    EmitFinished(run, 0, results);

    EXPECT_EQ(log.text,
              "a.tga->out/a.tga...Done\nb?c.tga: Error: Not enough memory to report this file\n");
    EXPECT_EQ(run.summary.converted, 1u);
    EXPECT_EQ(run.summary.failed, 1u);
}

// taskset and container limits narrow the CPUs a process may use; the
// default job count follows them, not the machine's count.
TEST(DefaultJobsTest, FollowsTheCPUsThisThreadMayRunOn) {
    cpu_set_t allowed;
    ASSERT_EQ(::sched_getaffinity(0, sizeof allowed, &allowed), 0);
    std::size_t first = 0;
    while (!CPU_ISSET(first, &allowed)) {
        ++first;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(DefaultJobs(), 1u);
    ::sched_setaffinity(0, sizeof allowed, &allowed);
    EXPECT_EQ(DefaultJobs(), static_cast<unsigned>(CPU_COUNT(&allowed)));
}

}  // namespace
