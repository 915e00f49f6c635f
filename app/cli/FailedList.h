// --failed-to: the names of the files a run did not do (those that failed
// and, after an interrupt, those never begun), for a script to
// feed back with `--files-from LIST -0`. Each name is the source exactly as
// it was given or found (bytes as the system has them, control characters
// included), ended by a NUL byte, in list order; a run with nothing to
// report leaves the file empty.
#pragma once

#include <string>
#include <vector>

// Writes `names` to the file at `path`, replacing what it held. Answers
// false, with the system's reason in `error`, when it cannot be written.
bool WriteNameList(const std::string& path, const std::vector<std::string>& names,
                   std::string& error);
