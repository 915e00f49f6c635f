// The batch's in-order step. The pool finishes files in any order; their
// results come here in list order, on the thread that runs the batch, a run
// of consecutive finished files at a time. For each, its log text is
// appended and its outcome counted. Whatever must follow a file's completion
// in list order (its line, its count) belongs here.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "batch/ConvertJobs.h"
#include "batch/ConvertOneFile.h"
#include "batch/LogSink.h"

namespace Batch {

class GroupedCommit;

struct BatchRun {
    LogSink& log;
    const std::vector<BatchJob>& jobs;
    const ConvertOptions& options;
    ConvertSummary summary;
    // Where converted files wait to be put in place in groups; their texts
    // are emitted from there. Without it, each text is emitted at once.
    GroupedCommit* commits = nullptr;
};

// `results` are those of jobs[first], jobs[first + 1], ...
void EmitFinished(BatchRun& run, std::size_t first, std::span<FileResult> results);
// Appends one file's text and counts its outcome.
void EmitOne(BatchRun& run, std::size_t index, const FileResult& result);
// Reports progress without crossing a text being emitted.
void ReportProgress(BatchRun& run, std::size_t index);

}  // namespace Batch
