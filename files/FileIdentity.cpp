#include "files/FileIdentity.h"

#ifdef _WIN32
#include <windows.h>

#include "files/SystemPath.h"
#else
#include <sys/stat.h>
#endif

namespace Files {

std::string FileIdentity(const std::string& path) {
#ifdef _WIN32
    // Opened for no access at all, and through a link to what it leads to,
    // so that nothing is locked and a folder answers too.
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(file, &info) != 0;
    ::CloseHandle(file);
    if (!known) {
        return {};
    }
    const unsigned long long index =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
#endif
}

}  // namespace Files
