#include "app/cli/TerminalLog.h"

TerminalLog::TerminalLog(std::FILE* outStream, std::FILE* progressStream, bool quietLog,
                         bool progressLine)
    : out(outStream), progress(progressStream), quiet(quietLog), showProgress(progressLine) {}

TerminalLog::~TerminalLog() {
    EraseProgress();
}

void TerminalLog::Append(std::string_view text) {
    if (quiet || text.empty()) {
        return;
    }
    EraseProgress();
    std::fwrite(text.data(), 1, text.size(), out);
    std::fflush(out);
}

void TerminalLog::ShowProgress(std::size_t position, std::size_t total, std::string_view name) {
    if (!showProgress) {
        return;
    }
    // Carriage return and erase-line keep the line in one place.
    std::fprintf(progress, "\r\033[K[%zu/%zu] %.*s", position, total, static_cast<int>(name.size()),
                 name.data());
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
