// Several files of one batch converted at once, with the log the one-by-one
// batch would give.
//
// Each worker thread has its own pair of streams and takes the next file of
// the list; a file's log text is appended, on the calling thread, once the
// file and every file before it in the list are done. So the log holds the
// same texts in the same order whatever order the files finish in, and a
// stop request ends the batch after a prefix of the list, as it would one by
// one. At most one image per worker exists at a time.
#pragma once

#include <vector>

#include "app/ConvertFiles.h"
#include "app/ConvertOneFile.h"

// Uses up to options.jobs threads (never more than there are files); when
// no thread can be started, converts on the calling thread instead.
ConvertSummary ConvertJobsInParallel(LogSink& log, const std::vector<FileJob>& jobs,
                                     const ConvertOptions& options);
