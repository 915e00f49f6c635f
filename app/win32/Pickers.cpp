#include "app/win32/Pickers.h"

#include <commdlg.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <vector>

#include "files/SystemPath.h"

using Files::Utf8Text;

namespace {

constexpr wchar_t kFilter[] = L"Targa (*.tga)\0*.tga\0";
constexpr wchar_t kDefaultExtension[] = L"tga";
constexpr wchar_t kFolderTitle[] = L"Select destination folder";
// Where the last destination is kept between runs.
constexpr wchar_t kSettingsKey[] = L"Software\\Tessary";
constexpr wchar_t kLastFolderValue[] = L"LastDestinationFolder";

std::wstring LastFolder() {
    wchar_t buffer[32768] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kLastFolderValue, RRF_RT_REG_SZ, nullptr,
                       buffer, &size) != ERROR_SUCCESS) {
        return {};
    }
    return buffer;
}

void RememberFolder(const std::wstring& folder) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                          &key, nullptr) != ERROR_SUCCESS) {
        return;  // only a convenience: the next picker starts elsewhere
    }
    ::RegSetValueExW(key, kLastFolderValue, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

// Releases a COM interface when it goes.
template <typename T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) {
            p->Release();
        }
    }
};

}  // namespace

bool SystemPickers::PickFiles(HWND owner, std::string& fileList) {
    std::vector<wchar_t> buffer(kFileListCapacity, L'\0');
    OPENFILENAMEW record{};
    record.lStructSize = sizeof record;
    record.hwndOwner = owner;
    record.hInstance = ::GetModuleHandleW(nullptr);
    record.lpstrFilter = kFilter;
    record.nFilterIndex = 1;
    record.lpstrFile = buffer.data();
    record.nMaxFile = kFileListCapacity;
    record.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    record.lpstrDefExt = kDefaultExtension;
    if (!::GetOpenFileNameW(&record)) {
        return false;
    }
    // Each string of the list, and the empty one that ends it, in UTF-8.
    fileList.clear();
    std::size_t at = 0;
    while (at < buffer.size() && buffer[at] != L'\0') {
        const std::size_t length = std::wcslen(&buffer[at]);
        fileList += Utf8Text(std::wstring_view(&buffer[at], length));
        fileList.push_back('\0');
        at += length + 1;
    }
    fileList.push_back('\0');
    return true;
}

bool SystemPickers::PickFolder(HWND owner, std::string& folder) {
    Held<IFileOpenDialog> dialog;
    if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_PPV_ARGS(&dialog.p)))) {
        return false;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog.p->GetOptions(&options);
    dialog.p->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog.p->SetTitle(kFolderTitle);
    if (const std::wstring last = LastFolder(); !last.empty()) {
        Held<IShellItem> start;
        if (SUCCEEDED(
                ::SHCreateItemFromParsingName(last.c_str(), nullptr, IID_PPV_ARGS(&start.p)))) {
            dialog.p->SetFolder(start.p);
        }
    }
    if (FAILED(dialog.p->Show(owner))) {
        return false;  // cancelled
    }
    Held<IShellItem> picked;
    if (FAILED(dialog.p->GetResult(&picked.p))) {
        return false;
    }
    wchar_t* path = nullptr;
    if (FAILED(picked.p->GetDisplayName(SIGDN_FILESYSPATH, &path)) || path == nullptr) {
        return false;
    }
    const std::wstring wide(path);
    ::CoTaskMemFree(path);
    RememberFolder(wide);
    folder = Utf8Text(wide);
    return true;
}
