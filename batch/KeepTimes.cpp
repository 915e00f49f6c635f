#include "batch/KeepTimes.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace Batch {

#ifdef _WIN32

namespace {

HANDLE OpenForAttributes(const std::string& path, DWORD access) {
    return ::CreateFileA(path.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

FileTimes TimesOf(const std::string& path) {
    FileTimes times;
    const HANDLE file = OpenForAttributes(path, FILE_READ_ATTRIBUTES);
    if (file != INVALID_HANDLE_VALUE) {
        times.known = ::GetFileTime(file, nullptr, &times.access, &times.modification) != 0;
        ::CloseHandle(file);
    }
    return times;
}

bool GiveTimes(const Files::Replacement& replacement, const std::string& destination,
               const FileTimes& times) {
    if (!times.known) {
        return false;
    }
    if (replacement.file != INVALID_HANDLE_VALUE) {
        return ::SetFileTime(replacement.file, nullptr, &times.access, &times.modification) != 0;
    }
    const HANDLE file = OpenForAttributes(destination, FILE_WRITE_ATTRIBUTES);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool given = ::SetFileTime(file, nullptr, &times.access, &times.modification) != 0;
    ::CloseHandle(file);
    return given;
}

#else

FileTimes TimesOf(const std::string& path) {
    FileTimes times;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        times.known = true;
        times.access = info.st_atim;
        times.modification = info.st_mtim;
    }
    return times;
}

bool GiveTimes(const Files::Replacement& replacement, const std::string& destination,
               const FileTimes& times) {
    if (!times.known) {
        return false;
    }
    const timespec both[2] = {times.access, times.modification};
    if (replacement.file >= 0) {
        return ::futimens(replacement.file, both) == 0;
    }
    return ::utimensat(AT_FDCWD, destination.c_str(), both, 0) == 0;
}

#endif

}  // namespace Batch
