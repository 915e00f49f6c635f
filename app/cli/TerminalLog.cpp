#include "app/cli/TerminalLog.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "batch/ShownName.h"

using Batch::FileOutcome;
using Batch::ShownName;

TerminalLog::TerminalLog(std::FILE* outStream, std::FILE* progressStream, bool quietLog,
                         bool progressLine)
    : out(outStream), progress(progressStream), quiet(quietLog), showProgress(progressLine) {}

TerminalLog::~TerminalLog() {
    EraseProgress();
}

void TerminalLog::Print(std::FILE* stream, std::string_view text) {
    if (text.empty()) {
        return;
    }
    EraseProgress();
    errno = 0;
    const bool written =
        std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0;
    if (!written && stream == out && outError == 0) {
        outError = errno != 0 ? errno : EIO;
    }
}

void TerminalLog::Append(std::string_view text) {
    if (!quiet) {
        Print(out, text);
    }
}

void TerminalLog::AppendFile(std::string_view text, FileOutcome outcome) {
    if (!quiet) {
        Print(out, text);
    } else if (outcome == FileOutcome::Failed) {
        Print(progress, text);
    }
}

void TerminalLog::AppendSummary(std::string_view text) {
    Print(out, text);
}

void TerminalLog::ShowProgress(std::size_t position, std::size_t total, std::string_view name) {
    if (!showProgress) {
        return;
    }
    // Carriage return and erase-line keep the line in one place.
    const std::string shown = ShownName(name);
    std::fprintf(progress, "\r\033[K[%zu/%zu] %s", position, total, shown.c_str());
    std::fflush(progress);
    progressShown = true;
}

void TerminalLog::EraseProgress() {
    if (progressShown) {
        std::fputs("\r\033[K", progress);
        std::fflush(progress);
        progressShown = false;
    }
}

bool TerminalLog::OutputWritten(int& error) {
    errno = 0;
    if (std::fflush(out) != 0 && outError == 0) {
        outError = errno != 0 ? errno : EIO;
    }
    if (outError == 0 && std::ferror(out)) {
        outError = EIO;
    }
    error = outError;
    return outError == 0;
}

bool ProgressLineWanted(std::FILE* err) {
    if (::isatty(::fileno(err)) != 1) {
        return false;
    }
    const char* term = std::getenv("TERM");
#ifdef _WIN32
    // The console sets no TERM of its own.
    return term == nullptr || std::strcmp(term, "dumb") != 0;
#else
    return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
#endif
}
