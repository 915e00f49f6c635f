// The line that ends a batch's log, the same in every front end, so that a
// file skipped or never begun is counted alike wherever the batch ran.
#pragma once

#include <cstddef>
#include <string>

#include "batch/ConvertJobs.h"

namespace Batch {

// Of `planned` (the jobs, and the folders that could not be read, each a
// failure of its own in `summary.failed`), those the batch never began: it
// was stopped first.
std::size_t NotStarted(const ConvertSummary& summary, std::size_t planned);

// "8 converted, 1 failed", with ", 2 skipped" and ", 3 not started" when
// there were any; a dry run's files "would be converted". No line ending.
std::string SummaryLine(const ConvertSummary& summary, std::size_t notStarted, bool dryRun = false);

}  // namespace Batch
