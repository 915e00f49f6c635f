#include "app/cli/TerminalLog.h"

#include <string>

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
#ifdef _WIN32
    // The log's lines end in "\r\n", and a text-mode stream turns every "\n"
    // into "\r\n" itself: the "\r" is left to the stream.
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (!(text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')) {
            lines.push_back(text[at]);
        }
    }
    text = lines;
#endif
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
