// printf-style formatting of log texts. The result is never cut: a long path
// is logged whole, however long it is.
//
// Every log text ends its lines with "\n", on every system. What shows the
// text gives it the medium's own line break: a text-mode stream does so by
// itself, and the Win32 dialog's log pane (which shows a bare "\n" as no
// break at all) where it inserts the text.
#pragma once

#include <cstdarg>
#include <string>

#include "batch/LogSink.h"

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
