// The command line's log: the batch's texts go to standard output as one
// continuous log, and a progress line is kept on standard error when that
// is a terminal that understands escape codes. The progress line is erased
// before any text is printed, so the two never mix on one screen.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "batch/LogSink.h"

class TerminalLog : public Batch::LogSink {
  public:
    // `quiet` keeps only failed files' texts, on `progress` (standard error)
    // instead of `out`; `showProgress` enables the progress line.
    TerminalLog(std::FILE* out, std::FILE* progress, bool quiet, bool showProgress);
    ~TerminalLog() override;

    void Append(std::string_view text) override;
    void AppendFile(std::string_view text, Batch::FileOutcome outcome) override;
    // A line of the program's own on standard output, such as the summary.
    void AppendSummary(std::string_view text);

    // Shows "[done/total] name" on the progress line.
    void ShowProgress(std::size_t position, std::size_t total, std::string_view name);
    void EraseProgress();

    // Whether everything meant for standard output reached it; flushes what
    // is pending first. When not, `error` holds the system's reason.
    bool OutputWritten(int& error);

  private:
    void Print(std::FILE* stream, std::string_view text);

    std::FILE* out;
    std::FILE* progress;
    bool quiet;
    bool showProgress;
    bool progressShown = false;
    int outError = 0;  // the first failure to write standard output
};

// Whether standard error can carry the progress line: a terminal, and one
// whose TERM is not "dumb" (which understands no escape codes).
bool ProgressLineWanted(std::FILE* err);
