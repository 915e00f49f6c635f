// Helpers of the Windows tests: the shared temporary folder and files under
// the names these tests use, and small TGA files.
#pragma once

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "support/Files.h"
#include "support/TempDir.h"

// The shared temporary folder; its paths use backslashes, as the system's
// pickers give them.
class TempFolder : public TempDir {
  public:
    std::vector<std::string> Entries() const { return ListFolder(path()); }
};

inline bool WriteWholeFile(const std::string& path, const Bytes& content) {
    try {
        WriteBytes(path, content);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
// Empty when missing.
inline Bytes ReadWholeFile(const std::string& path) {
    return ReadBytes(path).value_or(Bytes{});
}
inline bool Exists(const std::string& path) {
    return FileExists(path);
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
