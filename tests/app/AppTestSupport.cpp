#include "AppTestSupport.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tessary-app-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempDir::operator/(std::string_view relative) const {
    return path + "/" + std::string(relative);
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        throw std::runtime_error("cannot create " + path);
    }
    const std::size_t written =
        bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    if (written != bytes.size()) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes ReadFileBytes(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return bytes;
    }
    std::uint8_t block[65536];
    std::size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) {
        bytes.insert(bytes.end(), block, block + n);
    }
    std::fclose(file);
    return bytes;
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> ListFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* folder = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(folder);
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

void PutWord(Bytes& bytes, int value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

Bytes Header(int width, int height, std::size_t idLength, std::uint8_t descriptor) {
    Bytes bytes = {static_cast<std::uint8_t>(idLength), 0, 2, 0, 0, 0, 0, 0};
    PutWord(bytes, 0);  // x origin
    PutWord(bytes, 0);  // y origin
    PutWord(bytes, width);
    PutWord(bytes, height);
    bytes.push_back(24);
    bytes.push_back(descriptor);
    return bytes;
}

void PutPixel(Bytes& bytes, int x, int y) {
    bytes.push_back(static_cast<std::uint8_t>(x));
    bytes.push_back(static_cast<std::uint8_t>(y));
    bytes.push_back(0x80);
}

}  // namespace

Bytes MakeTrueColourTGA(int width, int height, bool topDown, bool rightToLeft,
                        std::string_view imageId) {
    const auto descriptor =
        static_cast<std::uint8_t>((topDown ? 0x20 : 0) | (rightToLeft ? 0x10 : 0));
    Bytes bytes = Header(width, height, imageId.size(), descriptor);
    bytes.insert(bytes.end(), imageId.begin(), imageId.end());
    for (int stored = 0; stored < height; ++stored) {
        const int y = topDown ? stored : height - 1 - stored;
        for (int column = 0; column < width; ++column) {
            PutPixel(bytes, rightToLeft ? width - 1 - column : column, y);
        }
    }
    return bytes;
}

Bytes ExpectedPlainTGA(int width, int height) {
    return MakeTrueColourTGA(width, height, false, false);
}
