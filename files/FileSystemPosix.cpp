#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files/FileSystem.h"

namespace Files {

namespace {

constexpr int kMaxLinks = 40;  // as many as the system follows in one path
constexpr const char* kTemporaryMark = ".tessary-";
constexpr const char* kTemporaryEnd = ".tmp";

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

void CloseQuietly(int& fd) {
    if (fd >= 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        fd = -1;
    }
}

// A hidden name for `name`'s temporary file, ".<name>.tessary-<pid>-<n>.tmp",
// with the name cut short where the whole would pass the longest name the
// system allows.
std::string TemporaryNameFor(const std::string& name) {
    static std::atomic<unsigned> counter{0};
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%s%ld-%u%s", kTemporaryMark,
                  static_cast<long>(::getpid()), counter.fetch_add(1), kTemporaryEnd);
    const std::size_t room = NAME_MAX - 1 - std::strlen(suffix);
    return "." + name.substr(0, room) + suffix;
}

bool LooksTemporary(const char* name) {
    const std::size_t length = std::strlen(name);
    const std::size_t endLength = std::strlen(kTemporaryEnd);
    return name[0] == '.' && std::strstr(name, kTemporaryMark) != nullptr && length > endLength &&
           std::strcmp(name + length - endLength, kTemporaryEnd) == 0;
}

// The link rule the kernel applies to protected links: in a folder that
// is sticky and writable by all, a link is followed only when it belongs to
// the folder's owner or to the user who follows it.
bool MayFollowLink(int folder, const struct stat& link) {
    struct stat folderInfo {};
    if (::fstat(folder, &folderInfo) != 0) {
        return false;
    }
    const bool shared = (folderInfo.st_mode & S_ISVTX) != 0 && (folderInfo.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == folderInfo.st_uid || link.st_uid == ::geteuid();
}

// Finds the file `target` leads to: the folder (held open) and the name in
// it, following links at the last step under the link rule. `found` tells
// whether something stands there.
bool ResolveTarget(const char* target, Replacement& replacement, struct stat& info, bool& found) {
    std::string path(target);
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        std::string name = NameOf(path);
        if (name.empty() || name == "." || name == "..") {
            errno = EISDIR;
            return false;
        }
        const std::string folderPath = FolderOf(path);
        int folder = ::open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            return false;
        }
        if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            found = false;
            if (errno != ENOENT) {
                CloseQuietly(folder);
                return false;
            }
        } else {
            found = true;
        }
        if (found && S_ISLNK(info.st_mode)) {
            if (!MayFollowLink(folder, info)) {
                CloseQuietly(folder);
                replacement.failure = kUntrustedLinkText;
                errno = EACCES;
                return false;
            }
            std::string link(PATH_MAX, '\0');
            const ssize_t length = ::readlinkat(folder, name.c_str(), link.data(), link.size());
            CloseQuietly(folder);
            if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
                return false;
            }
            link.resize(static_cast<std::size_t>(length));
            path = link[0] == '/' ? link : folderPath + "/" + link;
            continue;
        }
        replacement.folder = folder;
        replacement.name = std::move(name);
        replacement.target = path;
        return true;
    }
    errno = ELOOP;
    return false;
}

// Removes the temporary files that dead runs left in `folder`: those no live
// process holds locked. Looked at once per folder and process.
void RemoveStaleTemporaries(int folder) {
    struct stat folderInfo {};
    if (::fstat(folder, &folderInfo) != 0) {
        return;
    }
    static std::mutex seenLock;
    static std::set<std::pair<dev_t, ino_t>> seen;
    {
        std::lock_guard lock(seenLock);
        if (!seen.insert({folderInfo.st_dev, folderInfo.st_ino}).second) {
            return;
        }
    }
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (!LooksTemporary(entry->d_name)) {
            continue;
        }
        int fd = ::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat opened {};
        struct stat named {};
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 &&
            S_ISREG(opened.st_mode) &&
            ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == opened.st_ino && named.st_dev == opened.st_dev) {
            ::unlinkat(folder, entry->d_name, 0);
        }
        CloseQuietly(fd);
    }
    ::closedir(listing);
}

bool ProcFdUsable() {
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

std::string ProcPathOf(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// An anonymous file in the folder, or -1 with errno set. EOPNOTSUPP (and
// kin) mean the file system has none; the caller then names one.
int CreateAnonymous(int folder, mode_t mode) {
    if (!ProcFdUsable()) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
        // Locked like a named one, for the moment it is linked in to be
        // renamed.
        ::flock(fd, LOCK_EX);
    }
    return fd;
}

bool NoAnonymousFiles(int error) {
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOENT;
}

// A hidden file, locked while this process owns it so that no later run
// takes it for a dead run's leftover.
int CreateNamed(int folder, const std::string& name, mode_t mode, std::string& created) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = TemporaryNameFor(name);
        int fd = ::openat(folder, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return -1;
        }
        struct stat opened {};
        struct stat named {};
        // A run that removes dead runs' files may have taken it between its
        // creation and the lock; then it is gone and another name is tried.
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &opened) == 0 &&
            ::fstatat(folder, temporary.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == opened.st_ino && named.st_dev == opened.st_dev) {
            created = std::move(temporary);
            return fd;
        }
        CloseQuietly(fd);
    }
    errno = EEXIST;
    return -1;
}

void AddNote(std::string& notes, const char* what) {
    if (notes.find(what) != std::string::npos) {
        return;
    }
    if (!notes.empty()) {
        notes += ", ";
    }
    notes += what;
}

// The names of the extended attributes of a file; an empty list when it
// has none or the file system keeps none.
std::vector<std::string> AttributeNames(int fd, const std::string& viaProc) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = viaProc.empty()
                                   ? ::flistxattr(fd, buffer.data(), buffer.size())
                                   : ::listxattr(viaProc.c_str(), buffer.data(), buffer.size());
        if (length >= 0) {
            buffer.resize(static_cast<std::size_t>(length));
            break;
        }
        if (errno != ERANGE || buffer.size() > (std::size_t{1} << 20)) {
            return {};
        }
        buffer.resize(buffer.size() * 4);
    }
    std::vector<std::string> names;
    for (std::size_t at = 0; at < buffer.size();) {
        const std::string name(buffer.data() + at);
        at += name.size() + 1;
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

bool AttributeValue(int fd, const std::string& viaProc, const std::string& name,
                    std::vector<char>& value) {
    value.resize(256);
    for (;;) {
        const ssize_t length =
            viaProc.empty() ? ::fgetxattr(fd, name.c_str(), value.data(), value.size())
                            : ::getxattr(viaProc.c_str(), name.c_str(), value.data(), value.size());
        if (length >= 0) {
            value.resize(static_cast<std::size_t>(length));
            return true;
        }
        if (errno != ERANGE || value.size() > (std::size_t{1} << 20)) {
            return false;
        }
        value.resize(value.size() * 4);
    }
}

constexpr const char* kAccessAcl = "system.posix_acl_access";

// Gives the new file the old one's extended attributes, its ACL among them.
void KeepAttributes(int from, int to, std::string& notKept) {
    // A file opened only to find it (the user may write it but not read it)
    // is reached through its /proc path instead.
    const std::string viaProc = (::fcntl(from, F_GETFL) & O_PATH) != 0 ? ProcPathOf(from) : "";
    const std::vector<std::string> names = AttributeNames(from, viaProc);
    bool hadAcl = false;
    std::vector<char> value;
    std::vector<char> present;
    for (const std::string& name : names) {
        const bool acl = name.rfind("system.posix_acl", 0) == 0;
        hadAcl = hadAcl || name == kAccessAcl;
        if (!AttributeValue(from, viaProc, name, value)) {
            continue;
        }
        if (AttributeValue(to, "", name, present) && present == value) {
            continue;  // the system gave it already (a security label, say)
        }
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) {
            AddNote(notKept, acl ? "ACL" : "extended attributes");
        }
    }
    // An ACL the new file inherited from its folder, which the old file did
    // not have, would open it to others.
    if (!hadAcl && ::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP) {
        AddNote(notKept, "ACL");
    }
}

// Owner, group, attributes and mode, in that order: a change of owner
// clears set-user-ID bits, and the mode decides the ACL's mask.
void KeepMetadata(Replacement& replacement) {
    struct stat old {};
    struct stat mine {};
    if (::fstat(replacement.original, &old) != 0 || ::fstat(replacement.file, &mine) != 0) {
        AddNote(replacement.notKept, "permissions");
        return;
    }
    if ((old.st_uid != mine.st_uid || old.st_gid != mine.st_gid) &&
        ::fchown(replacement.file, old.st_uid, old.st_gid) != 0) {
        // Someone other than the owner may still give the file the group.
        if (old.st_gid != mine.st_gid &&
            ::fchown(replacement.file, static_cast<uid_t>(-1), old.st_gid) != 0) {
            AddNote(replacement.notKept, old.st_uid != mine.st_uid ? "owner, group" : "group");
        } else if (old.st_uid != mine.st_uid) {
            AddNote(replacement.notKept, "owner");
        }
    }
    KeepAttributes(replacement.original, replacement.file, replacement.notKept);
    if (::fchmod(replacement.file, old.st_mode & 07777) != 0) {
        AddNote(replacement.notKept, "permissions");
    }
}

bool LinkAnonymous(Replacement& replacement) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = TemporaryNameFor(replacement.name);
        int linked = ::linkat(AT_FDCWD, ProcPathOf(replacement.file).c_str(), replacement.folder,
                              temporary.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno != EEXIST) {
            linked = ::linkat(replacement.file, "", replacement.folder, temporary.c_str(),
                              AT_EMPTY_PATH);
        }
        if (linked == 0) {
            replacement.temporary = std::move(temporary);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
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
    replacement = {};
    if (target == nullptr || *target == '\0') {
        errno = ENOENT;
        return false;
    }
    struct stat existing {};
    bool exists = false;
    if (!ResolveTarget(target, replacement, existing, exists)) {
        return false;
    }
    const char* name = replacement.name.c_str();
    if (exists) {
        if (!S_ISREG(existing.st_mode)) {
            errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
            DiscardReplacement(replacement);
            return false;
        }
        replacement.original =
            ::openat(replacement.folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (replacement.original < 0 && errno == EACCES) {
            replacement.original =
                ::openat(replacement.folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        }
        if (replacement.original < 0 ||
            ::faccessat(replacement.folder, name, W_OK, AT_EACCESS) != 0) {
            DiscardReplacement(replacement);
            return false;
        }
    }
    RemoveStaleTemporaries(replacement.folder);
    // Private while it is written; a new name takes the usual mode at once,
    // there being nothing older to protect.
    const mode_t mode = exists ? 0600 : 0666;
    int fd = CreateAnonymous(replacement.folder, mode);
    replacement.anonymous = fd >= 0;
    if (fd < 0 && NoAnonymousFiles(errno)) {
        fd = CreateNamed(replacement.folder, replacement.name, mode, replacement.temporary);
    }
    if (fd < 0) {
        DiscardReplacement(replacement);
        return false;
    }
    replacement.file = fd;
    replacement.replacesExisting = exists;
    // Only an existing file needs its replacement on disk before the
    // rename: a crash can otherwise cost nothing that existed, and forcing
    // every new file to disk made a batch into an empty folder wait.
    replacement.waitsForGroup = replacement.anonymous && exists;
    return true;
}

bool FinishReplacement(Replacement& replacement) {
    if (replacement.original >= 0) {
        KeepMetadata(replacement);
        CloseQuietly(replacement.original);
    }
    struct stat info {};
    if (::fstat(replacement.file, &info) == 0) {
        replacement.size = static_cast<std::uint64_t>(info.st_size);
    }
    if (replacement.waitsForGroup) {
        return true;
    }
    // A named file is visible until it is renamed: it is put in place at
    // once, so a run that dies leaves at most one per file being written.
    return (!replacement.replacesExisting || SyncFile(replacement.file)) && PutInPlace(replacement);
}

void SyncReplacements(const std::vector<Replacement*>& replacements, std::vector<bool>& ok) {
    std::vector<std::pair<dev_t, int>> fileSystems;  // one file of each
    std::vector<dev_t> devices(replacements.size());
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        const Replacement& replacement = *replacements[i];
        struct stat info {};
        if (!ok[i] || replacement.file < 0 || ::fstat(replacement.file, &info) != 0) {
            continue;
        }
        devices[i] = info.st_dev;
        bool known = false;
        for (const auto& fileSystem : fileSystems) {
            known = known || fileSystem.first == info.st_dev;
        }
        if (!known) {
            fileSystems.emplace_back(info.st_dev, replacement.file);
        }
    }
    std::vector<dev_t> synced;
#ifdef __linux__
    if (replacements.size() > 1) {
        for (const auto& [device, file] : fileSystems) {
            if (::syncfs(file) == 0) {
                synced.push_back(device);
            }
        }
    }
#endif
    // Each file on its own where the file system could not be flushed whole.
    for (std::size_t i = 0; i < replacements.size(); ++i) {
        Replacement& replacement = *replacements[i];
        bool done = false;
        for (const dev_t device : synced) {
            done = done || device == devices[i];
        }
        if (ok[i] && replacement.file >= 0 && !done && !SyncFile(replacement.file)) {
            ok[i] = false;
        }
    }
}

bool PutInPlace(Replacement& replacement) {
    if (replacement.file < 0 || replacement.folder < 0) {
        return false;
    }
    if (replacement.anonymous && !LinkAnonymous(replacement)) {
        replacement.failure = kUnableToRenameText;
        return false;
    }
    const bool closed = ::close(replacement.file) == 0;
    replacement.file = -1;
    if (!closed || ::renameat(replacement.folder, replacement.temporary.c_str(), replacement.folder,
                              replacement.name.c_str()) != 0) {
        replacement.failure = closed ? kUnableToRenameText : nullptr;
        return false;
    }
    replacement.temporary.clear();
    return true;
}

void SyncFolders(const std::vector<Replacement*>& replacements) {
    std::vector<std::pair<dev_t, ino_t>> done;
    for (Replacement* replacement : replacements) {
        struct stat info {};
        if (!replacement->replacesExisting || replacement->folder < 0 ||
            ::fstat(replacement->folder, &info) != 0) {
            continue;
        }
        bool seen = false;
        for (const auto& folder : done) {
            seen = seen || (folder.first == info.st_dev && folder.second == info.st_ino);
        }
        if (!seen) {
            ::fsync(replacement->folder);
            done.emplace_back(info.st_dev, info.st_ino);
        }
    }
}

void DiscardReplacement(Replacement& replacement) noexcept {
    CloseQuietly(replacement.file);
    CloseQuietly(replacement.original);
    if (!replacement.temporary.empty() && replacement.folder >= 0) {
        ::unlinkat(replacement.folder, replacement.temporary.c_str(), 0);
        replacement.temporary.clear();
    }
    CloseQuietly(replacement.folder);
}

void RemoveFile(const std::string& path) {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

}  // namespace Files
