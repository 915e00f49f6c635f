// A name as the user sees it. Control characters (a line break or a tab in
// a file name, say, and the C1 controls U+0080 to U+009F, or such a byte on
// its own, as the one-byte CSI 0x9B) become '?', so that every file keeps one
// line of its own and no name can move the terminal's cursor. Other bytes
// pass unchanged, so names that are not UTF-8 still show as the system's
// bytes.
//
// Everything that shows a name uses it: the log, the check report, the
// progress line and every error message.
#pragma once

#include <string>
#include <string_view>

namespace Batch {

std::string ShownName(std::string_view name);

}  // namespace Batch
