// One file's turn of the batch, as a function of its own: it opens, reads,
// writes and closes, and hands back the log text instead of writing to the
// log, so that several files can be converted at once and their texts still
// shown in list order.
#pragma once

#include <string>

#include "batch/ConvertJobs.h"
#include "batch/DestinationPlan.h"
#include "batch/LogSink.h"
#include "files/FolderCache.h"
#include "files/ReplacementGroup.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"

namespace Batch {

struct FileResult {
    std::string log;  // empty only when not even the text could be built
    FileOutcome outcome = FileOutcome::Failed;
    // A converted file's new content, complete, waiting to be put in place
    // with others (GroupedCommit); `log` from `doneAt` on says "Done".
    Files::FinishedReplacement finished{};
    std::size_t doneAt = 0;
    // Nothing was done yet: whether the file converts is decided in the
    // in-order step (an earlier job leads to the same file).
    bool deferred = false;
};

// `destination`: what the plan decided for this job's destination; a
// destination that cannot be written, or that another job reads, fails the
// job before its source is read.
// The streams are the caller's, closed on entry and closed again on return
// whatever happened; they are passed in so that one pair serves many files.
// `folders`: the batch's destination folders, shared by every file.
// A converted file is left to the caller to put in place (GroupedCommit).
// Never raises: every failure, running out of memory included, ends as a
// failed result.
FileResult ConvertOneFile(const BatchJob& job, const PlannedDestination& destination,
                          const ConvertOptions& options, GFXStream::MappedFileInputStream& input,
                          GFXStream::FileOutputStream& output,
                          Files::FolderCache& folders) noexcept;

// Texts of the failures that the codec does not name itself.
inline constexpr const char* kUnableToOpenText = "Unable to open file";
inline constexpr const char* kOutOfMemoryText = "Not enough memory for the image";
// After "->destination...": a file --no-clobber leaves alone, and the two
// outcomes of a dry run.
inline constexpr const char* kSkippedExistingText = "Skipped (File exists)";
inline constexpr const char* kSkippedNormalText = "Skipped (already in normal form)";
inline constexpr const char* kWouldWriteText = "Would be written";
inline constexpr const char* kWouldReplaceText = "Would replace the existing file";

}  // namespace Batch
