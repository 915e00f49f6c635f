#include "batch/EmitFinished.h"

#include <new>
#include <string>

#include "batch/AppendLog.h"
#include "batch/GroupedCommit.h"
#include "batch/ShownName.h"

namespace Batch {

namespace {

inline constexpr const char* kNoMemoryForLogText = "Not enough memory to report this file";

void Count(ConvertSummary& summary, FileOutcome outcome) {
    switch (outcome) {
        case FileOutcome::Converted:
            ++summary.converted;
            break;
        case FileOutcome::Skipped:
            ++summary.skipped;
            break;
        case FileOutcome::Failed:
            ++summary.failed;
            break;
    }
}

// A file whose text could not be built still gets its line: with its name
// when there is memory for that now, without it otherwise.
void AppendLostText(LogSink& log, const BatchJob& job, FileOutcome outcome) {
    try {
        std::string text = ShownName(job.shownName);
        AppendLog(text, ": Error: %s\n", kNoMemoryForLogText);
        log.AppendFile(text, outcome);
    } catch (const std::bad_alloc&) {
        log.AppendFile("Error: Not enough memory to report a file\n", outcome);
    }
}

}  // namespace

void EmitOne(BatchRun& run, std::size_t index, const FileResult& result) {
    Count(run.summary, result.outcome);
    if (result.log.empty()) {
        AppendLostText(run.log, run.jobs[index], result.outcome);
    } else {
        run.log.AppendFile(result.log, result.outcome);
    }
    if (run.options.finished) {
        run.options.finished(index, result.outcome);
    }
}

void EmitFinished(BatchRun& run, std::size_t first, std::span<FileResult> results) {
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (run.commits != nullptr) {
            run.commits->Record(first + i, std::move(results[i]));
        } else {
            EmitOne(run, first + i, results[i]);
        }
    }
}

void ReportProgress(BatchRun& run, std::size_t index) {
    if (!run.options.progress) {
        return;
    }
    const FileProgress file{index, run.jobs.size(), run.jobs[index].shownName};
    if (run.commits != nullptr) {
        run.commits->Locked([&] { run.options.progress(file); });
    } else {
        run.options.progress(file);
    }
}

}  // namespace Batch
