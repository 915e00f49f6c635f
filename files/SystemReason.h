// What the system said when a file could not be opened, read or written,
// for the log to add in parentheses: "Unable to open file (Permission
// denied)". The batch's own texts stay as they are; the reason only follows
// them.
#pragma once

#include <string>

namespace Files {

// The calling thread's last system error, and a way to start afresh before
// a step whose failure is to be explained.
int LastSystemError() noexcept;
void ClearSystemError() noexcept;

// The system's text for an error number from LastSystemError; "" for 0.
std::string SystemErrorText(int error);

// Why `path` could not be opened, given the error the attempt left: a
// folder, something that is no regular file and (for reading) an empty file
// are named as such, since the system reports no error for them; otherwise
// the system's text. "" when nothing is known.
std::string WhyNotOpened(const char* path, int error, bool forReading);

}  // namespace Files
