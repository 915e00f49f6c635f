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

// A file whose destination an earlier file leads to as well, once every
// file before it has its final outcome.
FileResult Decide(BatchRun& run, std::size_t index) {
    if (run.commits != nullptr) {
        run.commits->Finish();  // the files before it are in place, or failed
    }
    const BatchJob& job = run.jobs[index];
    PlannedDestination planned = run.plan[index];
    const std::size_t writer = run.writtenBy[planned.claim];
    if (writer == PlannedDestination::kNone) {
        // Nothing was written there: this file converts after all.
        if (!run.input) {
            run.input = std::make_unique<GFXStream::MappedFileInputStream>();
            run.output = std::make_unique<GFXStream::FileOutputStream>();
        }
        planned.waits = false;
        return ConvertOneFile(job, planned, run.options, *run.input, *run.output, run.folders);
    }
    FileResult result;
    result.log = ShownName(job.shownName) + "->" + ShownName(job.destination) + "...";
    const std::string& source = run.plan[writer].source;
    if (!source.empty() && source == planned.source) {
        AppendLog(result.log, "Done (%s %s)\n", kSameFileText,
                  ShownName(run.jobs[writer].shownName).c_str());
        result.outcome = FileOutcome::Skipped;
    } else {
        AppendLog(result.log, "Error: %s\n", kDestinationTakenText);
    }
    return result;
}

}  // namespace

void EmitOne(BatchRun& run, std::size_t index, const FileResult& result) {
    if (result.outcome == FileOutcome::Converted && run.plan[index].claim < run.writtenBy.size()) {
        run.writtenBy[run.plan[index].claim] = index;
    }
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
        if (results[i].deferred) {
            try {
                results[i] = Decide(run, first + i);
            } catch (const std::bad_alloc&) {
                results[i] = FileResult{};  // its line says memory ran out
            }
        }
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
