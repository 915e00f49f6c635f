#include <windows.h>

#include "files/FileCopy.h"

namespace Files {

std::int64_t ReadSomeAt(FileHandle file, std::uint64_t offset, std::uint8_t* buffer,
                        std::size_t n) {
    // One call takes at most a DWORD's worth; the caller asks again for the
    // rest.
    const DWORD asked = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!::ReadFile(file, buffer, asked, &read, &at)) {
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return static_cast<std::int64_t>(read);
}

// Windows has no copy between open files by position; the caller copies
// through memory.
std::int64_t CopySome(FileHandle, std::uint64_t, FileHandle, std::size_t) {
    return kCopyNotSupported;
}

}  // namespace Files
