#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "gfxstream/FileSystem.h"

namespace GFXStream::FileSystem {

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UniqueSuffix() {
    static std::atomic<unsigned> counter{0};
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char text[64];
    std::snprintf(text, sizeof text, "%ld-%llx-%u", static_cast<long>(::getpid()), ticks & 0xFFFFFF,
                  counter.fetch_add(1));
    return text;
}

void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

FileHandle OpenForWriting(const char* name, bool truncate) {
    if (name == nullptr) {
        return kInvalidFileHandle;
    }
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | (truncate ? O_TRUNC : 0);
    const int fd = ::open(name, flags, 0666);
    if (fd < 0) {
        return kInvalidFileHandle;
    }
    ::lseek(fd, 0, SEEK_END);
    return fd;
}

std::int64_t WriteSome(FileHandle file, const std::uint8_t* data, std::size_t n) {
    for (;;) {
        const ssize_t written = ::write(file, data, n);
        if (written >= 0) {
            return written;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

std::int64_t WriteSomeGathered(FileHandle file, const WriteBlock* blocks, std::size_t count) {
    iovec vectors[IOV_MAX];
    const std::size_t n = count < IOV_MAX ? count : IOV_MAX;
    for (std::size_t i = 0; i < n; ++i) {
        vectors[i].iov_base = const_cast<std::uint8_t*>(blocks[i].data);
        vectors[i].iov_len = blocks[i].size;
    }
    for (;;) {
        const ssize_t written = ::writev(file, vectors, static_cast<int>(n));
        if (written >= 0) {
            return written;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

bool SyncFile(FileHandle file) {
    return ::fsync(file) == 0;
}

bool CloseFile(FileHandle file) {
    return ::close(file) == 0;
}

bool CreateReplacement(const char* target, Replacement& replacement) {
    if (target == nullptr || *target == '\0') {
        return false;
    }
    std::string resolved(target);
    struct stat existing {};
    bool exists = ::lstat(target, &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode)) {
        char* real = ::realpath(target, nullptr);
        if (real == nullptr) {
            return false;  // a dangling or looping link names nothing to replace
        }
        resolved = real;
        std::free(real);
        exists = ::stat(resolved.c_str(), &existing) == 0;
    }
    if (exists && (!S_ISREG(existing.st_mode) || ::access(resolved.c_str(), W_OK) != 0)) {
        return false;
    }
    const std::string folder = FolderOf(resolved);
    const std::string prefix = folder + "/." + NameOf(resolved) + ".tessary-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = prefix + UniqueSuffix() + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        if (exists) {
            // Best effort: an unprivileged user cannot give the file away.
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
                errno = 0;
            }
            ::fchmod(fd, existing.st_mode & 07777);
        }
        replacement.target = resolved;
        replacement.temporary = std::move(temporary);
        replacement.file = fd;
        replacement.replacesExisting = exists;
        return true;
    }
    return false;
}

bool CommitReplacement(const Replacement& replacement) {
    if (::rename(replacement.temporary.c_str(), replacement.target.c_str()) != 0) {
        return false;
    }
    if (replacement.replacesExisting) {
        SyncFolder(FolderOf(replacement.target));
    }
    return true;
}

void RemoveFile(const std::string& path) {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

}  // namespace GFXStream::FileSystem
