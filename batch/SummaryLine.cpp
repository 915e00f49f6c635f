#include "batch/SummaryLine.h"

namespace Batch {

std::size_t NotStarted(const ConvertSummary& summary, std::size_t planned) {
    const std::size_t ended = summary.converted + summary.failed + summary.skipped;
    return planned > ended ? planned - ended : 0;
}

std::string SummaryLine(const ConvertSummary& summary, std::size_t notStarted, bool dryRun) {
    std::string line = std::to_string(summary.converted) +
                       (dryRun ? " would be converted, " : " converted, ") +
                       std::to_string(summary.failed) + " failed";
    if (summary.skipped > 0) {
        line += ", " + std::to_string(summary.skipped) + " skipped";
    }
    if (notStarted > 0) {
        line += ", " + std::to_string(notStarted) + " not started";
    }
    return line;
}

}  // namespace Batch
