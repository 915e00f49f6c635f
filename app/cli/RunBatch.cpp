#include "app/cli/RunBatch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <system_error>
#include <thread>

#include "app/CheckNormalForm.h"
#include "app/ConvertFiles.h"
#include "app/FileList.h"
#include "app/cli/BatchPlan.h"
#include "app/cli/TerminalLog.h"

namespace {

// Set by an interrupt: the batch ends after the file in hand, so no
// temporary file is left behind and the summary is still printed.
std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
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

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void ReportProblems(const BatchPlan& plan, std::FILE* err) {
    for (const std::string& problem : plan.problems) {
        std::fprintf(err, "tessary-cli: cannot read folder %s\n", problem.c_str());
    }
}

}  // namespace

int RunConversion(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const BatchPlan plan =
        PlanBatch(commandLine.inputs, commandLine.outputFolder, commandLine.recursive);
    ReportProblems(plan, err);

    std::error_code error;
    std::filesystem::create_directories(commandLine.outputFolder, error);
    if (error) {
        // Every file then reports that its output cannot be opened.
        std::fprintf(err, "tessary-cli: cannot create folder %s: %s\n",
                     commandLine.outputFolder.c_str(), error.message().c_str());
    }

    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && IsTerminal(err));
    DestinationClaims claims;
    std::size_t started = 0;
    ConvertOptions options;
    options.rle = commandLine.rle;
    options.stop = &interrupted;
    options.claims = &claims;
    options.jobs = commandLine.jobs != 0 ? commandLine.jobs
                                         : std::max(1u, std::thread::hardware_concurrency());
    options.progress = [&](const FileProgress& file) {
        log.ShowProgress(started + file.index + 1, plan.fileCount, file.name);
    };

    ConvertSummary total;
    for (const BatchGroup& group : plan.groups) {
        if (interrupted.load()) {
            break;
        }
        std::filesystem::create_directories(group.destinationFolder, error);
        const ConvertSummary summary =
            ConvertFiles(log, group.destinationFolder.c_str(), group.fileList.c_str(), options);
        total.converted += summary.converted;
        total.failed += summary.failed;
        started += group.names.size();
    }
    log.EraseProgress();

    std::fprintf(out, "%zu converted, %zu failed\n", total.converted, total.failed);
    if (interrupted.load()) {
        std::fprintf(err, "tessary-cli: interrupted; %zu file(s) not converted\n",
                     plan.fileCount - total.converted - total.failed);
    }
    const bool complete = total.converted == plan.fileCount && plan.problems.empty();
    return complete ? kExitAllConverted : kExitSomeFailed;
}

int RunCheck(const CommandLine& commandLine, std::FILE* out, std::FILE* err) {
    const BatchPlan plan = PlanBatch(commandLine.inputs, "", commandLine.recursive);
    ReportProblems(plan, err);

    StopOnInterrupt();
    TerminalLog log(out, err, commandLine.quiet, !commandLine.quiet && IsTerminal(err));
    std::size_t normal = 0;
    std::size_t notNormal = 0;
    std::size_t failed = 0;
    std::size_t position = 0;
    for (const BatchGroup& group : plan.groups) {
        for (const std::string& name : group.names) {
            if (interrupted.load()) {
                break;
            }
            const std::string path = JoinPath(group.sourceFolder, name);
            log.ShowProgress(++position, plan.fileCount, path);
            const CheckResult result = CheckNormalForm(path.c_str());
            log.Append(FormatCheckLine(path, result));
            switch (result.outcome) {
                case CheckOutcome::Normal:
                    ++normal;
                    break;
                case CheckOutcome::NotNormal:
                    ++notNormal;
                    break;
                case CheckOutcome::Failed:
                    ++failed;
                    break;
            }
        }
    }
    log.EraseProgress();

    std::fprintf(out, "%zu in normal form, %zu not in normal form, %zu failed\n", normal, notNormal,
                 failed);
    const bool allNormal = normal == plan.fileCount && plan.problems.empty();
    return allNormal ? kExitAllConverted : kExitSomeFailed;
}
