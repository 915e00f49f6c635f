#include "files/FolderEntries.h"

#include <filesystem>
#include <system_error>

#include "files/SystemPath.h"

#ifdef _WIN32
#include <windows.h>

#include "files/SystemReason.h"
#endif

namespace Files {

#ifdef _WIN32

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason) {
    std::string pattern = folder.empty() ? std::string(".") : folder;
    if (pattern.back() != '\\' && pattern.back() != '/') {
        pattern.push_back('\\');
    }
    pattern.push_back('*');
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return true;  // nothing at all, not even "." (the root of a drive)
        }
        reason = SystemErrorText(static_cast<int>(error));
        return false;
    }
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry;
        entry.name = Utf8Text(name);
        const DWORD attributes = found.dwFileAttributes;
        entry.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entry.type = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderEntry::Type::Folder
                     : (attributes & FILE_ATTRIBUTE_DEVICE)  ? FolderEntry::Type::Other
                                                             : FolderEntry::Type::File;
        entries.push_back(std::move(entry));
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        reason = SystemErrorText(static_cast<int>(error));
        return false;
    }
    return true;
}

#else

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::directory_iterator listing(folder.empty() ? fs::path(".") : SystemPath(folder), error);
    for (; !error && listing != fs::directory_iterator(); listing.increment(error)) {
        const fs::directory_entry& found = *listing;
        FolderEntry entry;
        entry.name = PathText(found.path().filename());
        std::error_code linkError;
        entry.link = found.is_symlink(linkError);
        std::error_code statusError;
        if (found.is_directory(statusError)) {
            entry.type = FolderEntry::Type::Folder;
        } else if (found.is_regular_file(statusError)) {
            entry.type = FolderEntry::Type::File;
        } else if (statusError) {
            entry.reason = statusError.message();
        } else {
            entry.type = FolderEntry::Type::Other;
        }
        entries.push_back(std::move(entry));
    }
    if (error) {
        reason = error.message();
        return false;
    }
    return true;
}

#endif

}  // namespace Files
