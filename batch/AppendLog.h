// printf-style formatting of log texts. The result is never cut: a long path
// is logged whole, however long it is.
#pragma once

#include <cstdarg>
#include <string>

#include "batch/LogSink.h"

// The line break that ends each log text: the system's own, since the dialog's
// log pane on Windows shows a bare "\n" as no break at all.
#ifdef _WIN32
#define TESSARY_LOG_EOL "\r\n"
#else
#define TESSARY_LOG_EOL "\n"
#endif

#if defined(__GNUC__) || defined(__clang__)
#define TESSARY_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define TESSARY_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace Batch {

// Formats the arguments and appends the result to `text`.
void AppendLog(std::string& text, const char* format, ...) TESSARY_PRINTF_FORMAT(2, 3);
void AppendLogV(std::string& text, const char* format, std::va_list arguments);

// Formats the arguments and appends the result to the sink.
void AppendLog(LogSink& log, const char* format, ...) TESSARY_PRINTF_FORMAT(2, 3);

}  // namespace Batch
