#include <windows.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "files/FileSystem.h"
#include "files/SystemPath.h"

namespace Files {

namespace {

// Everything up to and including the last separator or drive designator:
// the temporary file is made in the same folder so that the final move never
// crosses volumes and can replace the target in one step.
std::string FolderPrefixOf(const std::string& path) {
    const auto separator = path.find_last_of("\\/");
    if (separator != std::string::npos) {
        return path.substr(0, separator + 1);
    }
    if (path.size() >= 2 && path[1] == ':') {
        return path.substr(0, 2);
    }
    return {};
}

std::string NameOf(const std::string& path) {
    return path.substr(FolderPrefixOf(path).size());
}

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    char text[64];
    std::snprintf(text, sizeof text, "%lu-%llx-%u", ::GetCurrentProcessId(),
                  static_cast<unsigned long long>(::GetTickCount64()) & 0xFFFFFF,
                  counter.fetch_add(1));
    return text;
}

// A symbolic link is replaced through: the file it leads to gets the new
// content and the link stays.
bool ResolveLink(const std::string& path, std::string& resolved) {
    const HANDLE file = ::CreateFileW(WidePath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;  // a dangling link names nothing to replace
    }
    // The longest path the system has: 32767 characters and the NUL.
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    ::CloseHandle(file);
    if (length == 0 || length >= buffer.size()) {
        return false;
    }
    buffer.resize(length);
    resolved = Utf8Text(buffer);
    return true;
}

}  // namespace

FileHandle OpenForWriting(const char* name, bool truncate) {
    if (name == nullptr) {
        return kInvalidFileHandle;
    }
    const HANDLE file = ::CreateFileW(WidePath(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                                      FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return kInvalidFileHandle;
    }
    LARGE_INTEGER zero{};
    ::SetFilePointerEx(file, zero, nullptr, FILE_END);
    return file;
}

std::int64_t WriteSome(FileHandle file, const std::uint8_t* data, std::size_t n) {
    // One call takes at most a DWORD's worth; the caller resumes after a
    // partial count.
    const DWORD asked = n > MAXDWORD ? MAXDWORD : static_cast<DWORD>(n);
    DWORD written = 0;
    if (!::WriteFile(file, data, asked, &written, nullptr)) {
        return -1;
    }
    return static_cast<std::int64_t>(written);
}

std::int64_t WriteSomeGathered(FileHandle file, const WriteBlock* blocks, std::size_t count) {
    // Buffered files have no gathered write; the first block goes alone and
    // the caller resumes after it.
    for (std::size_t i = 0; i < count; ++i) {
        if (blocks[i].size != 0) {
            return WriteSome(file, blocks[i].data, blocks[i].size);
        }
    }
    return 0;
}

bool SyncFile(FileHandle file) {
    return ::FlushFileBuffers(file) != 0;
}

bool CloseFile(FileHandle file) {
    return ::CloseHandle(file) != 0;
}

// What a plan learnt is not used here: each target is resolved as given.
bool CreateReplacement(const char* target, Replacement& replacement, IfNameTaken ifTaken,
                       bool createFolders, const KnownDestination*, FolderCache*,
                       const OpenedInput*) {
    replacement = {};
    replacement.ifTaken = ifTaken;
    if (target == nullptr || *target == '\0') {
        return false;
    }
    const std::filesystem::path folder = SystemPath(target).parent_path();
    std::error_code error;
    if (createFolders && !folder.empty() && !std::filesystem::create_directories(folder, error) &&
        error) {
        replacement.whyNot = error.message();
        return false;
    }
    std::string resolved(target);
    DWORD attributes = ::GetFileAttributesW(WidePath(target).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (!ResolveLink(target, resolved)) {
            return false;
        }
        attributes = ::GetFileAttributesW(WidePath(resolved).c_str());
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && ifTaken == IfNameTaken::Keep) {
        replacement.nameTaken = true;
        return false;
    }
    // An existing target must be a file that may be replaced: a folder, or a
    // file marked read-only, is refused before anything is created, with the
    // reason the system gives for writing to either.
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const std::string prefix = FolderPrefixOf(resolved) + "." + NameOf(resolved) + ".tessary-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = prefix + UniqueSuffix() + ".tmp";
        const HANDLE file =
            ::CreateFileW(WidePath(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                          CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD createError = ::GetLastError();
            if (createError == ERROR_FILE_EXISTS || createError == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return false;
        }
        replacement.target = resolved;
        replacement.temporary = std::move(temporary);
        replacement.file = file;
        replacement.replacesExisting = attributes != INVALID_FILE_ATTRIBUTES;
        return true;
    }
    return false;
}

bool FinishReplacement(Replacement& replacement, std::uint64_t size) {
    replacement.size = size;
    // Windows keeps its write-through move for each file: there is no flush
    // of a whole volume that an ordinary user may ask for.
    return SyncFile(replacement.file) && PutInPlace(replacement);
}

void SyncReplacements(const std::vector<Replacement*>& replacements, std::vector<bool>& ok) {
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        if (ok[i] && replacements[i]->file != kInvalidFileHandle &&
            !SyncFile(replacements[i]->file)) {
            ok[i] = false;
        }
    }
}

bool PutInPlace(Replacement& replacement) {
    const bool closed = replacement.file != kInvalidFileHandle && CloseFile(replacement.file);
    replacement.file = kInvalidFileHandle;
    // Write-through: the call returns only once the move itself is on disk.
    // A name to be kept is never moved over, should a file take it meanwhile.
    const bool keep = replacement.ifTaken == IfNameTaken::Keep;
    if (!closed ||
        !::MoveFileExW(WidePath(replacement.temporary).c_str(),
                       WidePath(replacement.target).c_str(),
                       (keep ? 0 : MOVEFILE_REPLACE_EXISTING) | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = ::GetLastError();
        replacement.nameTaken =
            keep && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
        replacement.failure = closed && !replacement.nameTaken ? kUnableToRenameText : nullptr;
        return false;
    }
    replacement.temporary.clear();
    return true;
}

void SyncFolders(const std::vector<Replacement*>&) {}

void DiscardReplacement(Replacement& replacement) noexcept {
    if (replacement.file != kInvalidFileHandle) {
        CloseFile(replacement.file);
        replacement.file = kInvalidFileHandle;
    }
    RemoveFile(replacement.temporary);
    replacement.temporary.clear();
}

void RemoveFile(const std::string& path) {
    if (!path.empty()) {
        ::DeleteFileW(WidePath(path).c_str());
    }
}

// Links on Windows keep being followed as before; judging them by their
// owner is left to this side of the file layer.
bool FollowsLink(const std::string&, const std::string&) {
    return true;
}

}  // namespace Files
