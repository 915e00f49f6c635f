#include "app/cli/RunBatch.h"

#include <atomic>
#include <csignal>
#include <string>
#include <system_error>

#include "app/cli/TerminalLog.h"
#include "batch/AppendLog.h"
#include "batch/BatchPlan.h"
#include "batch/CheckNormalForm.h"
#include "batch/ConvertJobs.h"
#include "batch/ShownName.h"

using namespace Batch;

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

// Folders that could not be listed are failures of their own, reported
// before the files.
void ReportProblems(const BatchPlan& plan, TerminalLog& log) {
    for (const BatchPlan::Problem& problem : plan.problems) {
        std::string text = ShownName(problem.folder);
        AppendLog(text, ": Unable to open folder (%s)\n", problem.reason.c_str());
        log.AppendFile(text, FileOutcome::Failed);
    }
}

// The summary goes last, then the checks that the log was written whole.
int Finish(TerminalLog& log, const std::string& summary, bool complete, std::FILE* err) {
    log.EraseProgress();
    log.AppendSummary(summary);
    int status = complete ? kExitAllConverted : kExitSomeFailed;
    int error = 0;
    if (!log.OutputWritten(error)) {
        std::fprintf(err, "%scannot write the log (%s)\n", kProgramPrefix,
                     std::generic_category().message(error).c_str());
        status = kExitSomeFailed;
    }
    if (interrupted.load()) {
        status = 128 + interruptingSignal.load();
    }
    return status;
}

}  // namespace

int RunConversion(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const BatchPlan plan =
        PlanBatch(commandLine.inputs, commandLine.outputFolder, commandLine.recursive);
    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && ProgressLineWanted(err));
    ReportProblems(plan, log);

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
    ConvertSummary summary = ConvertJobs(log, plan.jobs, options);
    summary.failed += plan.problems.size();

    std::string line = std::to_string(summary.converted) +
                       (commandLine.dryRun ? " would be converted, " : " converted, ") +
                       std::to_string(summary.failed) + " failed";
    if (summary.skipped > 0) {
        line += ", " + std::to_string(summary.skipped) + " skipped";
    }
    line += "\n";
    if (interrupted.load()) {
        const std::size_t done = summary.converted + summary.failed + summary.skipped;
        std::fprintf(err, "%sinterrupted; %zu file(s) not converted\n", kProgramPrefix,
                     plan.jobs.size() + plan.problems.size() - done);
    }
    return Finish(log, line, summary.failed == 0 && !summary.stopped, err);
}

int RunCheck(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const BatchPlan plan = PlanBatch(commandLine.inputs, "", commandLine.recursive);
    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && ProgressLineWanted(err));
    ReportProblems(plan, log);

    std::size_t normal = 0;
    std::size_t notNormal = 0;
    std::size_t failed = plan.problems.size();
    std::size_t position = 0;
    for (const BatchJob& job : plan.jobs) {
        if (interrupted.load()) {
            break;
        }
        log.ShowProgress(++position, plan.jobs.size(), job.shownName);
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
        log.AppendFile(FormatCheckLine(job.shownName, result), outcome);
    }

    const std::string line = std::to_string(normal) + " in normal form, " +
                             std::to_string(notNormal) + " not in normal form, " +
                             std::to_string(failed) + " failed\n";
    const bool allNormal = notNormal == 0 && failed == 0 && !interrupted.load();
    return Finish(log, line, allNormal, err);
}
