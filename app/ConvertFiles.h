// The batch loop: every file of a list is read with ReadTGA and written again
// with WriteTGA under its own name into the destination folder, each file's
// outcome reported in the log. One failing file never stops the batch.
//
// Per file the log receives, as one text:
//   converted:               name "->" dest "/" name "..." "Done\n"
//     (what the old file had and the new one could not keep is named:
//      "Done (not kept: owner, ACL)\n")
//   input cannot be opened:  name ": Unable to open file\n"
//     (": Unable to open file: Not a regular file\n" for a FIFO, device...)
//   output cannot be opened: name "->" dest "/" name "..." "Unable to open file\n"
//   read error:              name "Error: ReadTGA: ...\n"
//   write or commit error:   name "->" dest "/" name "..." "Error: ...\n"
// (The Windows build writes "\\" and "\r\n" in their place.)
//
// An existing destination file is replaced only once its new content is
// complete and on disk; on any failure it is left as it was. Finished files
// are put in place in groups (GroupedCommit), and a file's text is logged
// once its group is in place.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <string_view>

#include "app/DestinationClaims.h"
#include "app/LogSink.h"

// Reported before each file's turn.
struct FileProgress {
    std::size_t index = 0;  // 0-based position in this call's list
    std::size_t count = 0;  // names in this call's list
    std::string_view name;  // the name as the list gives it
};

struct ConvertOptions {
    // Write run-length encoded files (Image Types 9, 10, 11).
    bool rle = false;
    // When set and true, the batch ends before the next file; the current
    // file is always finished first.
    const std::atomic<bool>* stop = nullptr;
    // Called on the batch's thread before each file.
    std::function<void(const FileProgress&)> progress;
    // Destinations already taken in this run. Several calls that share one
    // object refuse to let a later file replace an earlier one's output;
    // without one, the call keeps its own.
    DestinationClaims* claims = nullptr;
    // Files converted at once, each by a thread of its own. The log is the
    // same texts in the same order whatever the number; progress is then
    // reported as each file's text is appended.
    unsigned jobs = 1;
};

struct ConvertSummary {
    std::size_t converted = 0;
    std::size_t failed = 0;
    bool stopped = false;  // the stop flag ended the batch early
};

// `fileList` is in the picker's shape (see FileList.h) and is not modified.
ConvertSummary ConvertFiles(LogSink& log, const char* destinationFolder, const char* fileList,
                            const ConvertOptions& options = {});
