// Whether a TGA file is already in the form the batch writes (uncompressed,
// rows bottom-up from left to right, no image ID, a 24-bit colour map where
// there is one, nothing after the pixels), and if not, why. Reads only.
#pragma once

#include <string>
#include <vector>

namespace Batch {

enum class CheckOutcome {
    Normal,     // rewriting the file would give the same bytes
    NotNormal,  // rewriting would change it; `reasons` says how
    Failed,     // the file cannot be opened or read; `error` says why
};

struct CheckResult {
    CheckOutcome outcome = CheckOutcome::Failed;
    std::vector<std::string> reasons;  // e.g. "run-length", "top-down", "footer"
    std::string error;                 // e.g. "Unable to open file", "ReadTGA: ..."
};

CheckResult CheckNormalForm(const char* path) noexcept;

// One log line for a checked file: "name: normal form\n",
// "name: not in normal form: run-length, top-down\n", "name: Error: ...\n".
std::string FormatCheckLine(const std::string& name, const CheckResult& result);

}  // namespace Batch
