// Helpers of the Windows tests: a private temporary folder, whole-file
// reading and writing through the Win32 calls, and a small TGA file.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// A folder of its own under the system's temporary folder, removed with
// everything in it when the test ends. Paths use backslashes, as the
// system's pickers give them.
class TempFolder {
  public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        char base[MAX_PATH];
        ::GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "tessary-win32-" + std::to_string(::GetCurrentProcessId()) +
                "-" + std::to_string(counter.fetch_add(1));
        ::CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() { Remove(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

    // The names in the folder, "." and ".." left out.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const HANDLE search = ::FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return names;
        }
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
        return names;
    }

  private:
    static void Remove(const std::string& folder) {
        WIN32_FIND_DATAA found;
        const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = found.cFileName;
                if (name == "." || name == "..") {
                    continue;
                }
                const std::string path = folder + "\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    Remove(path);
                } else {
                    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    ::DeleteFileA(path.c_str());
                }
            } while (::FindNextFileA(search, &found));
            ::FindClose(search);
        }
        ::RemoveDirectoryA(folder.c_str());
    }

    std::string path_;
};

inline bool WriteWholeFile(const std::string& path, const Bytes& content) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool ok =
        content.empty() ||
        (::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
         written == content.size());
    ::CloseHandle(file);
    return ok;
}

inline Bytes ReadWholeFile(const std::string& path) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    Bytes content;
    if (file == INVALID_HANDLE_VALUE) {
        return content;
    }
    std::uint8_t buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        content.insert(content.end(), buffer, buffer + got);
    }
    ::CloseHandle(file);
    return content;
}

inline bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A 2 x 2 true-colour image stored top-down (Image Descriptor 0x20), with
// its rows A B over C D; the batch rewrites it bottom-up.
inline Bytes TopDownImage() {
    Bytes file = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20};
    const Bytes pixels = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// What the batch writes for TopDownImage(): the same header with Image
// Descriptor 0, and the rows bottom-up, C D before A B.
inline Bytes TopDownImageRewritten() {
    Bytes file = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0};
    const Bytes pixels = {3, 3, 3, 4, 4, 4, 1, 1, 1, 2, 2, 2};
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// A header whose Image Type the reader refuses.
inline Bytes UnsupportedImage() {
    return {0, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 8, 0};
}
