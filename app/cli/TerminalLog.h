// The command line's log: the batch's texts go to standard output as one
// continuous log (the clearing each ConvertFiles call starts with is
// ignored), and a progress line is kept on standard error when that is a
// terminal. The progress line is erased before any log text is printed, so
// the two never mix on one screen.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "app/LogSink.h"

class TerminalLog : public LogSink {
  public:
    // `quiet` drops the log texts; `showProgress` enables the progress line.
    TerminalLog(std::FILE* out, std::FILE* progress, bool quiet, bool showProgress);
    ~TerminalLog() override;

    void Clear() override {}
    void Append(std::string_view text) override;

    // Shows "[done/total] name" on the progress line.
    void ShowProgress(std::size_t position, std::size_t total, std::string_view name);
    void EraseProgress();

  private:
    std::FILE* out;
    std::FILE* progress;
    bool quiet;
    bool showProgress;
    bool progressShown = false;
};
