#include "app/win32/Pickers.h"

#include <commdlg.h>
#include <shlobj.h>

#include <cstring>
#include <vector>

namespace {

constexpr char kFilter[] = "Targa (*.tga)\0*.tga\0";
constexpr char kDefaultExtension[] = "tga";
constexpr char kFolderTitle[] = "Select destination folder";

// The length of a list of NUL-terminated strings up to and including the
// empty string that ends it.
std::size_t ListLength(const std::vector<char>& buffer) {
    std::size_t at = 0;
    while (at < buffer.size() && buffer[at] != '\0') {
        at += std::strlen(&buffer[at]) + 1;
    }
    return at < buffer.size() ? at + 1 : buffer.size();
}

}  // namespace

bool SystemPickers::PickFiles(HWND owner, std::string& fileList) {
    std::vector<char> buffer(kFileListCapacity, '\0');
    OPENFILENAMEA record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.hInstance = ::GetModuleHandleA(nullptr);
    record.lpstrFilter = kFilter;
    record.nFilterIndex = 1;
    record.lpstrFile = buffer.data();
    record.nMaxFile = kFileListCapacity;
    record.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    record.lpstrDefExt = kDefaultExtension;
    if (!::GetOpenFileNameA(&record)) {
        return false;
    }
    fileList.assign(buffer.data(), ListLength(buffer));
    return true;
}

bool SystemPickers::PickFolder(HWND owner, std::string& folder) {
    char destination[264] = {};
    BROWSEINFOA record{};
    record.hwndOwner = owner;
    record.pidlRoot = nullptr;
    record.pszDisplayName = destination;
    record.lpszTitle = kFolderTitle;
    record.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = ::SHBrowseForFolderA(&record);
    if (item == nullptr) {
        return false;
    }
    const bool hasPath = ::SHGetPathFromIDListA(item, destination) != FALSE;
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(::SHGetMalloc(&allocator)) && allocator != nullptr) {
        allocator->Free(item);
        allocator->Release();
    }
    if (!hasPath) {
        return false;
    }
    folder = destination;
    return true;
}
