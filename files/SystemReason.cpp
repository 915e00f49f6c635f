#include "files/SystemReason.h"

#include "files/FileSystem.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "files/SystemPath.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace Files {

int LastSystemError() noexcept {
#ifdef _WIN32
    return static_cast<int>(::GetLastError());
#else
    return errno;
#endif
}

void ClearSystemError() noexcept {
#ifdef _WIN32
    ::SetLastError(0);
#else
    errno = 0;
#endif
}

std::string SystemErrorText(int error) {
    if (error == 0) {
        return {};
    }
#ifdef _WIN32
    // In UTF-16 and then UTF-8, as the log is, whatever the system's language.
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text = length > 0 && buffer != nullptr ? Utf8Text(std::wstring_view(buffer, length))
                                                       : "Error " + std::to_string(error);
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    // The system's texts end in ".\r\n"; inside parentheses neither belongs.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    return text;
#else
    return std::generic_category().message(error);
#endif
}

std::string WhyNotOpened(const char* path, int error, bool forReading) {
    namespace fs = std::filesystem;
    std::error_code statusError;
    const fs::path systemPath = SystemPath(path != nullptr ? path : "");
    const fs::file_status status = fs::status(systemPath, statusError);
    if (!statusError) {
        if (fs::is_directory(status)) {
            return std::generic_category().message(EISDIR);
        }
        if (fs::exists(status) && !fs::is_regular_file(status)) {
            return kNotRegularFileText;
        }
        std::error_code sizeError;
        if (forReading && fs::is_regular_file(status) &&
            fs::file_size(systemPath, sizeError) == 0 && !sizeError) {
            return kEmptyFileText;
        }
    }
    return SystemErrorText(error);
}

}  // namespace Files
