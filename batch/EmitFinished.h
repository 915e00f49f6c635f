// The batch's in-order step. The pool finishes files in any order; their
// results come here in list order, on the thread that runs the batch, a run
// of consecutive finished files at a time. For each, its log text is
// appended and its outcome counted. Whatever must follow a file's completion
// in list order (its line, its count) belongs here, and so does what
// depends on the outcome of the files before it: a file whose destination
// an earlier file leads to as well is decided here (see DestinationPlan.h),
// and converted here when nothing was written there.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "batch/ConvertJobs.h"
#include "batch/ConvertOneFile.h"
#include "batch/DestinationPlan.h"
#include "batch/LogSink.h"

namespace Batch {

class GroupedCommit;

struct BatchRun {
    BatchRun(LogSink& batchLog, const std::vector<BatchJob>& batchJobs,
             const ConvertOptions& batchOptions, const std::vector<PlannedDestination>& batchPlan)
        : log(batchLog),
          jobs(batchJobs),
          options(batchOptions),
          plan(batchPlan),
          writtenBy(batchJobs.size(), PlannedDestination::kNone) {}

    LogSink& log;
    const std::vector<BatchJob>& jobs;
    const ConvertOptions& options;
    const std::vector<PlannedDestination>& plan;
    ConvertSummary summary;
    // Where converted files wait to be put in place in groups; their texts
    // are emitted from there. Without it, each text is emitted at once.
    GroupedCommit* commits = nullptr;
    // For each claim (see PlannedDestination), the job whose file was
    // written there, once its text is emitted.
    std::vector<std::size_t> writtenBy;
    // The streams of the files converted in the in-order step.
    std::unique_ptr<GFXStream::MappedFileInputStream> input;
    std::unique_ptr<GFXStream::FileOutputStream> output;
    // The destination folders of the batch, shared by every file.
    Files::FolderCache folders;
};

// `results` are those of jobs[first], jobs[first + 1], ...
void EmitFinished(BatchRun& run, std::size_t first, std::span<FileResult> results);
// Appends one file's text and counts its outcome.
void EmitOne(BatchRun& run, std::size_t index, const FileResult& result);
// Reports progress without crossing a text being emitted.
void ReportProgress(BatchRun& run, std::size_t index);

}  // namespace Batch
