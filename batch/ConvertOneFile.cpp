#include "batch/ConvertOneFile.h"

#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "batch/AppendLog.h"
#include "batch/CheckNormalForm.h"
#include "batch/KeepTimes.h"
#include "batch/ShownName.h"
#include "codec/ReadTGA.h"
#include "codec/TGAFileRows.h"
#include "codec/TGAHeader.h"
#include "codec/WriteTGA.h"
#include "files/FileSystem.h"
#include "files/ReplacementFile.h"
#include "files/SystemPath.h"
#include "files/SystemReason.h"
#include "gfxstream/Exception.h"
#include "gfxstream/PositionalFileInputStream.h"

using namespace Codec;
using namespace Files;

namespace Batch {

namespace {

// " (reason)", or nothing when there is no reason to give.
std::string InParentheses(const std::string& reason) {
    return reason.empty() ? std::string() : " (" + reason + ")";
}

// The alpha-bit count the source's Image Descriptor declares, read from its
// header without moving the stream.
std::uint8_t AlphaBitsOf(GFXStream::InputStream& input) {
    std::uint8_t header[TGAHeader::kSize];
    const std::uint32_t read = input.Read(header, TGAHeader::kSize);
    input.SkipBack(0, read);
    return read == TGAHeader::kSize ? TGAHeader::Decode(header).AlphaBits() : 0;
}

// Creates the destination's folders when asked, then writes the rows and
// puts the file in place. `writing` tells the caller's handler that a
// failure is the system's to explain.
void Write(const BatchJob& job, const PlannedDestination& destination, RowSource& rows,
           std::uint8_t alphaBits, const FileTimes& times, const ConvertOptions& options,
           GFXStream::MappedFileInputStream& input, GFXStream::FileOutputStream& output,
           FolderCache& folders, ReplacementFile& replacement, FileResult& result, bool& writing) {
    std::string& log = result.log;
    ClearSystemError();
    // Under --no-clobber a file that takes the name meanwhile is left alone.
    const IfNameTaken ifTaken = options.noClobber ? IfNameTaken::Keep : IfNameTaken::Replace;
    if (!replacement.Open(job.destination.c_str(), ifTaken, options.createFolders,
                          &destination.known, &folders, &input.AsOpened())) {
        if (replacement.NameTaken()) {
            AppendLog(log, "%s\n", kSkippedExistingText);
            result.outcome = FileOutcome::Skipped;
            return;
        }
        const int error = LastSystemError();
        const std::string why = replacement.FailureText() != nullptr
                                    ? replacement.FailureText()
                                    : WhyNotOpened(job.destination.c_str(), error, false);
        AppendLog(log, "%s%s\n", kUnableToOpenText, InParentheses(why).c_str());
        return;
    }
    output.Attach(replacement.Handle());
    writing = true;
    ClearSystemError();
    WriteTGA(output, rows, options.rle, alphaBits);
    // Released before the new file takes the name, so that a destination
    // equal to the source can be replaced where an open file cannot be; a
    // source that lent the replacement its descriptor as the old file is
    // released once the replacement is finished with it.
    if (!replacement.SharesSource()) {
        input.Close();
    }
    output.Close();
    result.finished = replacement.Finish(output.Stored());
    input.Close();
    result.outcome = FileOutcome::Converted;
    result.doneAt = log.size();
    AppendLog(log, "Done");
    std::string notKept = result.finished.NotKept();
    if (options.preserveTimestamps && !GiveTimes(result.finished.Get(), job.destination, times)) {
        notKept += notKept.empty() ? kTimesNotKeptText : std::string(", ") + kTimesNotKeptText;
    }
    if (!notKept.empty()) {
        AppendLog(log, " (not kept: %s)", notKept.c_str());
    }
    AppendLog(log, "\n");
}

void Convert(const BatchJob& job, const PlannedDestination& destination,
             const ConvertOptions& options, GFXStream::MappedFileInputStream& input,
             GFXStream::FileOutputStream& output, FolderCache& folders, FileResult& result) {
    std::string& log = result.log;
    log = ShownName(job.shownName);
    const std::string arrow = "->" + ShownName(job.destination) + "...";

    // What the plan refused is refused before the source is read, alike in
    // a dry run and in the run itself.
    if (!destination.unwritable.empty()) {
        AppendLog(log, "%s%s%s\n", arrow.c_str(), kUnableToOpenText,
                  InParentheses(destination.unwritable).c_str());
        return;
    }
    if (destination.readByOther) {
        AppendLog(log, "%sError: %s\n", arrow.c_str(), kDestinationReadText);
        return;
    }
    if (options.noClobber && destination.exists) {
        AppendLog(log, "%s%s\n", arrow.c_str(), kSkippedExistingText);
        result.outcome = FileOutcome::Skipped;
        return;
    }

    if (job.refused != nullptr) {
        AppendLog(log, ": %s (%s)\n", kUnableToOpenText, job.refused);
        return;
    }
    // Taken before the file is read, which may change its access time.
    const FileTimes times = options.preserveTimestamps ? TimesOf(job.source) : FileTimes{};
    ClearSystemError();
    // A file repaired in place under its own name is opened as the plan
    // found it, and its replacement shares that descriptor.
    const bool inPlace = job.source == job.destination && destination.known.exists;
    if (!input.Open(job.source.c_str(), inPlace ? &destination.known : nullptr, &folders)) {
        AppendLog(log, ": %s%s\n", kUnableToOpenText, InParentheses(input.WhyNot()).c_str());
        return;
    }

    // Whether the image had been read decides the wording of an allocation
    // failure: only the reader allocates anything large. Only a failure
    // while writing is the system's to explain.
    bool imageRead = false;
    bool writing = false;
    // Declared here so that its failure is known in the handlers; a new
    // file not handed over is removed when it goes.
    ReplacementFile replacement;
    try {
        const std::uint8_t alphaBits = options.keepAlphaBits ? AlphaBitsOf(input) : 0;
        if (options.skipNormal && !options.rle &&
            AlreadyInNormalForm(input, options.keepAlphaBits)) {
            AppendLog(log, "%s%s\n", arrow.c_str(), kSkippedNormalText);
            result.outcome = FileOutcome::Skipped;
            return;
        }
        // Written straight from the file, a window and a row at a time, in
        // either encoding; a large picture's rows are read by position.
        // A file read whole is written from memory.
        GFXStream::PositionalFileInputStream bulk(input.Handle(), input.Size());
        TGAFileRows rows(input, input.InMemory() ? nullptr : &bulk);
        imageRead = true;
        log += arrow;
        if (options.dryRun) {
            AppendLog(log, "%s\n", destination.exists ? kWouldReplaceText : kWouldWriteText);
            result.outcome = FileOutcome::Converted;
        } else {
            Write(job, destination, rows, alphaBits, times, options, input, output, folders,
                  replacement, result, writing);
        }
    } catch (const GFXStream::Exception& caught) {
        if (replacement.NameTaken()) {
            AppendLog(log, "%s\n", kSkippedExistingText);
            result.outcome = FileOutcome::Skipped;
            return;
        }
        const int error = writing ? LastSystemError() : 0;
        AppendLog(log, "Error: %s%s\n", caught.Text(),
                  InParentheses(SystemErrorText(error)).c_str());
    } catch (const std::bad_alloc&) {
        AppendLog(log, "Error: %s%s\n", imageRead ? "" : "ReadTGA: ", kOutOfMemoryText);
    } catch (const std::exception& caught) {
        AppendLog(log, "Error: %s\n", caught.what());
    }
}

}  // namespace

FileResult ConvertOneFile(const BatchJob& job, const PlannedDestination& destination,
                          const ConvertOptions& options, GFXStream::MappedFileInputStream& input,
                          GFXStream::FileOutputStream& output, FolderCache& folders) noexcept {
    FileResult result;
    if (destination.waits) {
        result.deferred = true;
        return result;
    }
    try {
        Convert(job, destination, options, input, output, folders, result);
    } catch (...) {
        // Even the log text could not be built (memory ran out while it
        // was); the batch's in-order step says so in its place.
        result.log.clear();
    }
    // Whatever happened, both streams end closed. A failed output drops its
    // pending bytes instead of flushing them again; its new file is gone
    // already.
    input.Close();
    output.Discard();
    return result;
}

}  // namespace Batch
