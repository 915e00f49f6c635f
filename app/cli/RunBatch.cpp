#include "app/cli/RunBatch.h"

#include <atomic>
#include <csignal>
#include <string>
#include <system_error>

#include "app/cli/BaseFolder.h"
#include "app/cli/FailedList.h"
#include "app/cli/TerminalLog.h"
#include "batch/AppendLog.h"
#include "batch/BatchPlan.h"
#include "batch/CheckNormalForm.h"
#include "batch/ConvertJobs.h"
#include "batch/ShownName.h"
#include "batch/SummaryLine.h"

using Batch::AppendLog;
using Batch::BatchJob;
using Batch::BatchPlan;
using Batch::CheckNormalForm;
using Batch::CheckOutcome;
using Batch::CheckResult;
using Batch::ConvertJobs;
using Batch::ConvertOptions;
using Batch::ConvertSummary;
using Batch::FileOutcome;
using Batch::FileProgress;
using Batch::FormatCheckLine;
using Batch::LogSink;
using Batch::NotStarted;
using Batch::PlanBatch;
using Batch::ShownName;
using Batch::SummaryLine;

namespace {

// Set by an interrupt: the batch ends after the files in hand, so no
// temporary file is left behind and the summary is still printed; the
// program then ends with 128 plus the signal's number, as the shell expects
// of a program a signal ended.
std::atomic<bool> interrupted{false};
std::atomic<int> interruptingSignal{0};

extern "C" void OnInterrupt(int signal) {
    interruptingSignal.store(signal);
    interrupted.store(true);
}

void StopOnInterrupt() {
#ifdef _WIN32
    // The C runtime delivers Ctrl+C as SIGINT; Windows has no sigaction.
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
#else
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

// Folders that could not be listed are failures of their own, each reported
// where it stands in the list, before the file that follows it; they go on
// the list of failures too, since a folder given again is taken again.
class ProblemsInOrder {
  public:
    ProblemsInOrder(const BatchPlan& planned, TerminalLog& sink, std::vector<std::string>& names)
        : plan(planned), log(sink), failed(names) {}

    // Reports every problem that comes before job `index`.
    void Before(std::size_t index) {
        for (; next < plan.problems.size() && plan.problems[next].before <= index; ++next) {
            const BatchPlan::Problem& problem = plan.problems[next];
            std::string text = ShownName(problem.folder);
            AppendLog(text, ": Unable to open folder (%s)\n", problem.reason.c_str());
            log.AppendFile(text, FileOutcome::Failed);
            failed.push_back(problem.folder);
        }
    }
    void Rest() { Before(plan.problems.empty() ? 0 : plan.problems.back().before); }

  private:
    const BatchPlan& plan;
    TerminalLog& log;
    std::vector<std::string>& failed;
    std::size_t next = 0;
};

// The batch's texts, with the folder problems between them in list order.
// The batch appends one text per job, in list order.
class LogWithProblems : public LogSink {
  public:
    LogWithProblems(TerminalLog& sink, ProblemsInOrder& folders) : log(sink), problems(folders) {}

    void Append(std::string_view text) override { log.Append(text); }
    void AppendFile(std::string_view text, FileOutcome outcome) override {
        problems.Before(jobs++);
        log.AppendFile(text, outcome);
    }

  private:
    TerminalLog& log;
    ProblemsInOrder& problems;
    std::size_t jobs = 0;
};

// The summary goes last, then the checks that the log and the list of
// failures were written whole. `status` is what the files alone call for.
int Finish(TerminalLog& log, const std::string& summary, int status, const CommandLine& commandLine,
           const std::vector<std::string>& failed, std::FILE* err) {
    log.EraseProgress();
    log.AppendSummary(summary);
    int error = 0;
    if (!log.OutputWritten(error)) {
        std::fprintf(err, "%scannot write the log (%s)\n", kProgramPrefix,
                     std::generic_category().message(error).c_str());
        status = kExitNotDone;
    }
    std::string reason;
    if (!commandLine.failedTo.empty() && !WriteNameList(commandLine.failedTo, failed, reason)) {
        std::fprintf(err, "%scannot write %s (%s)\n", kProgramPrefix,
                     ShownName(commandLine.failedTo).c_str(), reason.c_str());
        status = kExitNotDone;
    }
    if (interrupted.load()) {
        status = 128 + interruptingSignal.load();
    }
    return status;
}

}  // namespace

int RunConversion(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    BatchPlan plan = PlanBatch(commandLine.inputs, commandLine.outputFolder, commandLine.recursive);
    std::string outside;
    if (!commandLine.base.empty() &&
        !KeepPathsBelow(plan.jobs, commandLine.base, commandLine.outputFolder, outside)) {
        std::fprintf(err, "%s%s is not below the base folder %s\n", kProgramPrefix,
                     ShownName(outside).c_str(), ShownName(commandLine.base).c_str());
        return kExitUsageError;
    }
    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && ProgressLineWanted(err));
    std::vector<std::string> failed;
    ProblemsInOrder problems(plan, log, failed);
    LogWithProblems inOrder(log, problems);

    ConvertOptions options;
    options.rle = commandLine.rle;
    options.keepAlphaBits = commandLine.keepAlphaBits;
    options.noClobber = commandLine.noClobber;
    options.dryRun = commandLine.dryRun;
    options.createFolders = true;
    options.stop = &interrupted;
    options.jobs = commandLine.jobs;  // 0: one per core
    options.progress = [&](const FileProgress& file) {
        log.ShowProgress(file.index + 1, file.count, file.name);
    };
    options.skipNormal = commandLine.skipNormal;
    options.preserveTimestamps = commandLine.preserveTimestamps;
    std::size_t ended = 0;
    options.finished = [&](std::size_t index, FileOutcome outcome) {
        ended = index + 1;
        if (outcome == FileOutcome::Failed) {
            failed.push_back(plan.jobs[index].source);
        }
    };
    ConvertSummary summary = ConvertJobs(inOrder, plan.jobs, options);
    problems.Rest();
    // After an interrupt, what was never begun is left to do as well.
    for (std::size_t index = ended; summary.stopped && index < plan.jobs.size(); ++index) {
        failed.push_back(plan.jobs[index].source);
    }
    summary.failed += plan.problems.size();

    // What was never begun is told on standard error, so that the line keeps
    // the shape scripts read.
    const std::string line = SummaryLine(summary, 0, commandLine.dryRun) + "\n";
    if (interrupted.load()) {
        std::fprintf(err, "%sinterrupted; %zu file(s) not converted\n", kProgramPrefix,
                     NotStarted(summary, plan.jobs.size() + plan.problems.size()));
    }
    const bool complete = summary.failed == 0 && !summary.stopped;
    return Finish(log, line, complete ? kExitAllConverted : kExitSomeFailed, commandLine, failed,
                  err);
}

int RunCheck(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const BatchPlan plan = PlanBatch(commandLine.inputs, "", commandLine.recursive);
    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && ProgressLineWanted(err));
    std::vector<std::string> failedNames;
    ProblemsInOrder problems(plan, log, failedNames);

    std::size_t normal = 0;
    std::size_t notNormal = 0;
    std::size_t failed = plan.problems.size();
    std::size_t position = 0;
    for (const BatchJob& job : plan.jobs) {
        if (interrupted.load()) {
            break;
        }
        problems.Before(position);
        // The whole path names the file, so that "a/x.tga" and "b/x.tga" of
        // `--check -r a b` stay apart.
        log.ShowProgress(++position, plan.jobs.size(), job.source);
        const CheckResult result = CheckNormalForm(job.source.c_str(), commandLine.keepAlphaBits);
        FileOutcome outcome = FileOutcome::Converted;
        switch (result.outcome) {
            case CheckOutcome::Normal:
                ++normal;
                break;
            case CheckOutcome::NotNormal:
                ++notNormal;
                break;
            case CheckOutcome::Failed:
                ++failed;
                outcome = FileOutcome::Failed;
                break;
        }
        if (result.outcome != CheckOutcome::Normal) {
            failedNames.push_back(job.source);
        }
        log.AppendFile(FormatCheckLine(job.source, result), outcome);
    }
    problems.Rest();
    for (std::size_t index = position; interrupted.load() && index < plan.jobs.size(); ++index) {
        failedNames.push_back(plan.jobs[index].source);
    }

    const std::string line = std::to_string(normal) + " in normal form, " +
                             std::to_string(notNormal) + " not in normal form, " +
                             std::to_string(failed) + " failed\n";
    const int status = failed > 0                            ? kExitSomeFailed
                       : notNormal > 0 || interrupted.load() ? kExitNotNormal
                                                             : kExitAllConverted;
    return Finish(log, line, status, commandLine, failedNames, err);
}
