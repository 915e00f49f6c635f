// The batch: every job of a list is read with ReadTGA and written again with
// WriteTGA to its destination, each file's outcome reported in the log. One
// failing file never stops the batch.
//
// One pool of threads converts the whole list; each file's log text is
// appended in list order on the calling thread, so the log is the same
// whatever the number of jobs. The whole list is planned before anything is
// written: when two jobs share a destination (a/x.tga and b/x.tga into one
// folder), the later one fails instead of replacing the earlier one's output.
//
// Per file the log receives, as one text (name and destination through
// ShownName):
//   converted:               name "->" destination "..." "Done\n"
//   input cannot be opened:  name ": Unable to open file (reason)\n"
//   output cannot be opened: name "->" destination "..." "Unable to open file (reason)\n"
//   read error:              name "Error: ReadTGA: ...\n"
//   write or commit error:   name "->" destination "..." "Error: ... (reason)\n"
//   skipped (noClobber):     name "->" destination "..." "Skipped (File exists)\n"
//   skipped (skipNormal):    name "->" destination "..." "Skipped (already in normal form)\n"
// The reason, in parentheses, is what the system said; it is left out when
// the system said nothing.
//
// An existing destination file is replaced only once its new content is
// complete and on disk; on any failure it is left as it was.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

#include "batch/BatchJob.h"
#include "batch/LogSink.h"

namespace Batch {

// Reported for each file in list order: before its turn when files are
// converted one at a time, as its log text is appended otherwise.
struct FileProgress {
    std::size_t index = 0;  // 0-based position in the list
    std::size_t count = 0;  // jobs in the list
    std::string_view name;  // the job's shownName, as given
};

struct ConvertOptions {
    // Write run-length encoded files (Image Types 9, 10, 11).
    bool rle = false;
    // Keep the source's alpha-bit count (Image Descriptor bits 0 to 3) in
    // the written file; otherwise the descriptor is 0.
    bool keepAlphaBits = false;
    // Leave a destination that exists alone: the file is skipped unread.
    bool noClobber = false;
    // Read every file and say what would be written and what replaced, but
    // write nothing and create nothing.
    bool dryRun = false;
    // Create a destination's missing folders, once its file has been read
    // and is about to be written; without it a missing folder fails the file.
    bool createFolders = false;
    // When set and true, the batch ends before the next file; the files
    // already begun are always finished first.
    const std::atomic<bool>* stop = nullptr;
    // Called on the batch's thread for each file.
    std::function<void(const FileProgress&)> progress;
    // Files converted at once, each by a thread of its own; 0 means one per
    // core (DefaultJobs). With 1 the files are converted on the calling
    // thread, one after another.
    unsigned jobs = 1;
    // Leave a file that is already in normal form alone, unwritten:
    // "Skipped (already in normal form)". Not with `rle`.
    bool skipNormal = false;
    // Give each written file its source's access and modification times.
    bool preserveTimestamps = false;
    // Called on the batch's thread for each file, in list order, as its
    // text is appended: for records of the run beside the log.
    std::function<void(std::size_t index, FileOutcome outcome)> finished;
};

struct ConvertSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    bool stopped = false;  // the stop flag ended the batch early
};

// The number of jobs the programs use unless told otherwise: one per core
// the process may run on (taskset and container limits narrow it).
unsigned DefaultJobs();

// Converts the list, appending each file's text to `log` (which it does not
// clear). Raises nothing for a file's failure; only a failure to set up the
// batch itself (no memory for the plan) escapes.
ConvertSummary ConvertJobs(LogSink& log, const std::vector<BatchJob>& jobs,
                           const ConvertOptions& options = {});

}  // namespace Batch
