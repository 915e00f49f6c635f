// Where a batch reports what it did. The dialog shows the text in its log
// pane, the command line prints it; the batch loop knows neither.
//
// ConvertFiles calls Clear once at the start of every batch, then Append
// with whole texts in list order, all on the thread that runs the batch.
#pragma once

#include <string_view>

class LogSink {
  public:
    virtual ~LogSink() = default;

    // Forgets the previous batch's text.
    virtual void Clear() = 0;
    // Adds `text` after what the log already holds. The text carries its own
    // line breaks ("\n"); nothing is added between texts.
    virtual void Append(std::string_view text) = 0;
};
