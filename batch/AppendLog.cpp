#include "batch/AppendLog.h"

#include <cstdio>

namespace Batch {

void AppendLogV(std::string& text, const char* format, std::va_list arguments) {
    if (format == nullptr) {
        return;
    }
    std::va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length <= 0) {
        return;
    }
    const std::size_t start = text.size();
    const auto added = static_cast<std::size_t>(length);
    // vsnprintf writes a terminating NUL as well; the string's own one at
    // [size()] takes it.
    text.resize(start + added);
    std::vsnprintf(text.data() + start, added + 1, format, arguments);
}

void AppendLog(std::string& text, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    AppendLogV(text, format, arguments);
    va_end(arguments);
}

void AppendLog(LogSink& log, const char* format, ...) {
    std::string text;
    std::va_list arguments;
    va_start(arguments, format);
    AppendLogV(text, format, arguments);
    va_end(arguments);
    log.Append(text);
}

}  // namespace Batch
