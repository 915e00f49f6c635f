// One file's turn of the batch, as a function of its own: it opens, reads,
// writes and closes, and hands back the log text instead of writing to the
// log, so that several files could be converted at once and their texts
// still shown in list order.
#pragma once

#include <string>

#include "app/ConvertFiles.h"
#include "app/LogSink.h"
#include "gfxstream/FileOutputStream.h"
#include "gfxstream/MappedFileInputStream.h"

struct FileJob {
    std::string name;               // as logged
    std::string sourcePath;         // the file to read
    std::string destinationFolder;  // as logged and as written into
    bool destinationTaken = false;  // an earlier file of the run has this destination
};

enum class FileOutcome { Converted, Failed };

struct FileResult {
    std::string log;
    FileOutcome outcome = FileOutcome::Failed;
    // A converted file's new content, complete, waiting to be put in place
    // with others (see GroupedCommit); `log` from `doneAt` on is "Done".
    GFXStream::FinishedReplacement finished;
    std::size_t doneAt = 0;
};

// The streams are the caller's, closed on entry and closed again on return
// whatever happened; they are passed in so that one pair serves many files.
// A converted file is left to the caller to put in place (GroupedCommit).
// Never raises.
FileResult ConvertOneFile(const FileJob& job, bool rle, GFXStream::MappedFileInputStream& input,
                          GFXStream::FileOutputStream& output) noexcept;

// Texts of the failures that the codec does not name itself.
inline constexpr const char* kUnableToOpenText = "Unable to open file";
inline constexpr const char* kOutOfMemoryText = "Not enough memory for the image";
inline constexpr const char* kDestinationTakenText =
    "Another file of this batch was already written to this name";

// Appends a finished file's log text and counts its outcome; the sequential
// and the parallel batch report through this one place, in list order.
void RecordResult(const FileResult& result, LogSink& log, ConvertSummary& summary);
