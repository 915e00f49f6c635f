// Where a batch reports what it did. The dialog shows the text in its log
// pane, the command line prints it; the batch loop knows neither.
//
// The batch calls AppendFile once per file, in list order, with the file's
// whole text, all on the thread that runs the batch.
#pragma once

#include <string_view>

namespace Batch {

// How one file of a batch ended.
enum class FileOutcome { Converted, Failed, Skipped };

class LogSink {
  public:
    virtual ~LogSink() = default;

    // Forgets the previous batch's text. The dialogs' log panes show one
    // batch at a time; a log that runs on (the command line's) keeps all.
    virtual void Clear() {}
    // Adds `text` after what the log already holds. The text carries its own
    // line breaks ("\n"); nothing is added between texts.
    virtual void Append(std::string_view text) = 0;
    // One file's text and how the file ended; a sink that treats failures
    // apart (the quiet command line lists them still) overrides it.
    virtual void AppendFile(std::string_view text, FileOutcome /*outcome*/) { Append(text); }
};

}  // namespace Batch
