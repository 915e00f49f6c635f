#include "app/ConvertOneFile.h"

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "app/AppendLog.h"
#include "app/FileList.h"
#include "gfxstream/Exception.h"
#include "image/ReadTGA.h"
#include "image/WriteTGA.h"

namespace {

const char* MessageOf(const GFXStream::Exception& caught) {
    return caught.message != nullptr ? caught.message : GFXStream::kNoMessageText;
}

// A name as the log shows it: control characters (a line break or a tab in
// a file name, say) become '?', so that every file keeps one line of its own
// and no name can move the terminal's cursor. Other bytes pass unchanged.
std::string Printable(std::string_view text) {
    std::string shown(text);
    for (char& c : shown) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            c = '?';
        }
    }
    return shown;
}

}  // namespace

FileResult ConvertOneFile(const FileJob& job, bool rle, GFXStream::MappedFileInputStream& input,
                          GFXStream::FileOutputStream& output) noexcept {
    FileResult result;
    std::string& log = result.log;
    AppendLog(log, "%s", Printable(job.name).c_str());

    if (!input.Open(job.sourcePath.c_str())) {
        AppendLog(log, ": %s%s%s" TESSARY_LOG_EOL, kUnableToOpenText,
                  input.FailureText() != nullptr ? ": " : "",
                  input.FailureText() != nullptr ? input.FailureText() : "");
        return result;
    }

    // Whether the image had been read decides the wording of an allocation
    // failure: only the reader allocates anything large.
    bool imageRead = false;
    try {
        std::unique_ptr<Image> image = ReadTGA(input, nullptr, nullptr);
        imageRead = true;
        // Released before the output exists, so that a destination equal to
        // the source can be replaced.
        input.Close();
        const std::string destination = JoinPath(job.destinationFolder, job.name);
        AppendLog(log, "->%s...", Printable(destination).c_str());
        if (job.destinationTaken) {
            AppendLog(log, "Error: %s" TESSARY_LOG_EOL, kDestinationTakenText);
        } else if (!output.OpenReplacement(destination.c_str())) {
            if (output.FailureText() != nullptr) {
                AppendLog(log, "Error: %s" TESSARY_LOG_EOL, output.FailureText());
            } else {
                AppendLog(log, "%s" TESSARY_LOG_EOL, kUnableToOpenText);
            }
        } else {
            WriteTGA(output, *image, rle);
            result.finished = output.Finish();
            result.doneAt = log.size();
            AppendLog(log, "Done");
            if (!result.finished.NotKept().empty()) {
                AppendLog(log, " (not kept: %s)", result.finished.NotKept().c_str());
            }
            AppendLog(log, TESSARY_LOG_EOL);
            result.outcome = FileOutcome::Converted;
        }
    } catch (const GFXStream::Exception& caught) {
        AppendLog(log, "Error: %s" TESSARY_LOG_EOL, MessageOf(caught));
    } catch (const std::bad_alloc&) {
        AppendLog(log, "Error: %s%s" TESSARY_LOG_EOL,
                  imageRead ? "" : "ReadTGA: ", kOutOfMemoryText);
    } catch (const std::exception& caught) {
        AppendLog(log, "Error: %s" TESSARY_LOG_EOL, caught.what());
    }

    // Whatever happened, both streams end closed. A failed output drops its
    // pending bytes and its temporary file instead of flushing them again.
    input.Close();
    output.Discard();
    return result;
}

void RecordResult(const FileResult& result, LogSink& log, ConvertSummary& summary) {
    if (result.outcome == FileOutcome::Converted) {
        ++summary.converted;
    } else {
        ++summary.failed;
    }
    log.Append(result.log);
}
