// The --check of one named file: whether it is already in the form the
// batch writes (Codec::NormalFormCheck decides), and if not, why; or why it
// cannot be read. Reads only.
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

// With `keepAlphaBits`, the form that conversion with --keep-alpha-bits writes.
CheckResult CheckNormalForm(const char* path, bool keepAlphaBits) noexcept;

// One log line for a checked file: "name: normal form\n",
// "name: not in normal form: run-length, top-down\n", "name: Error: ...\n".
std::string FormatCheckLine(const std::string& name, const CheckResult& result);

}  // namespace Batch
