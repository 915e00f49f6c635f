// Whether a file is already in the form the batch writes, as
// Codec::NormalFormCheck decides it: the --check of one named file (why not,
// or why it cannot be read), and the --skip-normal look at an open one.
// Reads only.
#pragma once

#include <string>
#include <vector>

#include "gfxstream/ByteRangeInputStream.h"

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

// The skip's answer: the check's header phase alone, which reads the header
// and colour map but no pixel, so that a rerun over a repaired tree costs
// little more than reading the headers. `input` is open at the file's start,
// and is left there. Answers false for any file it cannot read, leaving that
// for the conversion to report.
bool AlreadyInNormalForm(GFXStream::ByteRangeInputStream& input, bool keepAlphaBits) noexcept;

// One log line for a checked file: "name: normal form\n",
// "name: not in normal form: run-length, top-down\n", "name: Error: ...\n".
std::string FormatCheckLine(const std::string& name, const CheckResult& result);

}  // namespace Batch
