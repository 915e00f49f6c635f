// The pool that converts a batch's files several at once, with the log the
// one-by-one batch would give.
//
// Each worker thread has its own pair of streams and takes the next file of
// the list; finished files are handed to EmitFinished on the calling thread,
// in list order, as soon as every file before them is done. So the log holds
// the same texts in the same order whatever order the files finish in, and a
// stop request ends the batch after a prefix of the list, as it would one by
// one. At most one image per worker exists at a time.
#pragma once

#include <cstddef>
#include <vector>

#include "batch/EmitFinished.h"

namespace Batch {

// Uses up to `threads` workers (never more than there are files); when no
// thread can be started, converts on the calling thread instead.
// At most `aheadFiles` files are begun and not yet recorded by the in-order
// step.
void ConvertInPool(BatchRun& run, unsigned threads, std::size_t aheadFiles);

}  // namespace Batch
