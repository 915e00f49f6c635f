// The source's access and modification times given to its output, as
// `cp -p` does, so that tools that go by dates see the repaired file as the
// picture it was.
#pragma once

#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#include "files/FileSystem.h"

namespace Batch {

struct FileTimes {
    bool known = false;
#ifdef _WIN32
    FILETIME access{};
    FILETIME modification{};
#else
    timespec access{};
    timespec modification{};
#endif
};

// The times of the file at `path` (links followed); `known` false when it
// cannot be asked.
FileTimes TimesOf(const std::string& path);

// Gives `times` to a finished replacement: through its handle while it is
// still open, otherwise to the file now in place at `destination`.
bool GiveTimes(const Files::Replacement& replacement, const std::string& destination,
               const FileTimes& times);

// The word a "Done (not kept: ...)" line uses when they could not be given.
inline constexpr const char* kTimesNotKeptText = "times";

}  // namespace Batch
