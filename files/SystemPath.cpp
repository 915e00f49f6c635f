#include "files/SystemPath.h"

#ifdef _WIN32
#include <windows.h>

#include <climits>
#include <vector>
#endif

namespace Files {

#ifdef _WIN32

namespace {

// Leaves room for the 8.3 name that CreateDirectoryW insists fits under the
// classic limit, so folders get the prefix as soon as files do.
constexpr std::size_t kLongPath = MAX_PATH - 12;

int CountOf(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

std::wstring WideText(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), CountOf(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), CountOf(text.size()), wide.data(), length);
    }
    return wide;
}

std::string Utf8Text(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), CountOf(text.size()), nullptr,
                                             0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), CountOf(text.size()), narrow.data(), length,
                              nullptr, nullptr);
    }
    return narrow;
}

std::wstring WidePath(const std::string& path) {
    std::wstring wide = WideText(path);
    if (wide.size() < kLongPath || wide.rfind(L"\\\\?\\", 0) == 0) {
        return wide;
    }
    // The prefix turns off the system's own clean-up of the path, so "/",
    // "." and ".." are resolved first, by the same call that makes it
    // absolute.
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return wide;
    }
    std::vector<wchar_t> full(needed);
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return wide;
    }
    const std::wstring absolute(full.data(), length);
    if (absolute.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + absolute.substr(2);  // a share: \\server\share\...
    }
    return L"\\\\?\\" + absolute;
}

std::wstring WidePath(const char* path) {
    return path != nullptr ? WidePath(std::string(path)) : std::wstring();
}

std::filesystem::path SystemPath(std::string_view path) {
    return std::filesystem::path(WideText(path));
}

std::string PathText(const std::filesystem::path& path) {
    return Utf8Text(path.native());
}

std::string CaseFolded(std::string_view path) {
    const std::wstring wide = WideText(path);
    std::wstring folded(wide.size(), L'\0');
    // The invariant upper case, as the file systems compare names; a case
    // mapping never changes a UTF-16 string's length.
    if (wide.empty() ||
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), CountOf(wide.size()),
                        folded.data(), CountOf(folded.size()), nullptr, nullptr, 0) == 0) {
        return std::string(path);
    }
    return Utf8Text(folded);
}

#else

std::filesystem::path SystemPath(std::string_view path) {
    return std::filesystem::path(path);
}

std::string PathText(const std::filesystem::path& path) {
    return path.string();
}

std::string CaseFolded(std::string_view path) {
    return std::string(path);
}

#endif

}  // namespace Files
