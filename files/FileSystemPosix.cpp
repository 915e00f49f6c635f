#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "files/FileSystem.h"
#include "gfxstream/Exception.h"

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

constexpr std::size_t kRandomDigits = 16;

// A part of a temporary name that no other run is likely to pick: a random
// start drawn once per process, stepped for each file.
std::string RandomPart() {
    static const std::uint64_t start = [] {
        std::uint64_t seed = 0;
        if (::getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed)) {
            seed = static_cast<std::uint64_t>(std::time(nullptr)) ^
                   (static_cast<std::uint64_t>(::getpid()) << 32);
        }
        return seed;
    }();
    static std::atomic<std::uint64_t> step{0};
    // An odd multiplier visits every value before it repeats one.
    const std::uint64_t value = start + step.fetch_add(1) * 0x9E3779B97F4A7C15u;
    char digits[kRandomDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(value));
    return digits;
}

// A hidden name for `name`'s temporary file, ".<name>.tessary-<16 hex
// digits>.tmp", with the name cut short where the whole would pass the
// longest name the system allows.
std::string TemporaryNameFor(const std::string& name) {
    const std::string suffix = kTemporaryMark + RandomPart() + kTemporaryEnd;
    const std::size_t room = NAME_MAX - 1 - suffix.size();
    return "." + name.substr(0, room) + suffix;
}

// Exactly the names TemporaryNameFor makes, and no other.
bool LooksTemporary(const char* name) {
    const std::size_t length = std::strlen(name);
    const std::size_t mark = std::strlen(kTemporaryMark);
    const std::size_t tail = mark + kRandomDigits + std::strlen(kTemporaryEnd);
    if (name[0] != '.' || length < 2 + tail) {
        return false;
    }
    const char* const end = name + length - tail;
    if (std::strncmp(end, kTemporaryMark, mark) != 0 ||
        std::strcmp(end + mark + kRandomDigits, kTemporaryEnd) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < kRandomDigits; ++i) {
        const char c = end[mark + i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// Whether a user other than the running one may write into the folder, so
// that a link in it may have been planted: by owning it (root aside, who
// may write anywhere), or by its mode, whose group bits show the mask of an
// ACL that grants anyone write. Sticky or not makes no difference.
bool OthersMayWrite(const struct stat& folder) {
    return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
           (folder.st_uid != ::geteuid() && folder.st_uid != 0);
}

// The link rule, decided here alone and not left to the kernel's
// protected-links setting, which may be off.
bool MayFollowLink(int folder, const struct stat& link) {
    if (link.st_uid == ::geteuid() || link.st_uid == 0) {
        return true;
    }
    struct stat folderInfo {};
    return ::fstat(folder, &folderInfo) == 0 && !OthersMayWrite(folderInfo);
}

std::deque<std::string> PartsOf(const std::string& path) {
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at && path.compare(at, slash - at, ".") != 0) {
            parts.push_back(path.substr(at, slash - at));
        }
        at = slash + 1;
    }
    return parts;
}

bool ReadLink(int folder, const std::string& name, std::string& link) {
    link.assign(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder, name.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
        errno = length < 0 ? errno : ENAMETOOLONG;
        return false;
    }
    link.resize(static_cast<std::size_t>(length));
    return true;
}

// Opens `path` one name at a time, each link on the way judged by the link
// rule and its content walked the same way; with `create`, a missing folder
// is made on the way. Answers a descriptor that may
// only find names (O_PATH), or -1 with errno set.
int WalkToFolder(const std::string& path, const char*& failure, bool create = false) {
    std::deque<std::string> parts = PartsOf(path);
    int folder =
        ::open(!path.empty() && path[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    int links = 0;
    while (folder >= 0 && !parts.empty()) {
        const std::string part = std::move(parts.front());
        parts.pop_front();
        struct stat info {};
        if (part != ".." && ::fstatat(folder, part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            std::string link;
            if (!MayFollowLink(folder, info)) {
                failure = kUntrustedLinkText;
                errno = EACCES;
            } else if (++links > kMaxLinks) {
                errno = ELOOP;
            } else if (ReadLink(folder, part, link)) {
                std::deque<std::string> inner = PartsOf(link);
                parts.insert(parts.begin(), inner.begin(), inner.end());
                if (link[0] == '/') {
                    CloseQuietly(folder);
                    folder = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
                }
                continue;
            }
            CloseQuietly(folder);
            return -1;
        }
        constexpr int kFind = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        int next = ::openat(folder, part.c_str(), kFind);
        if (next < 0 && errno == ENOENT && create &&
            (::mkdirat(folder, part.c_str(), 0777) == 0 || errno == EEXIST)) {
            next = ::openat(folder, part.c_str(), kFind);
        }
        CloseQuietly(folder);
        folder = next;
    }
    return folder;
}

// Opens the folder `path` under the link rule, with `create` making the
// folders missing on the way. A path with no link on the way to a folder
// that exists (the usual case) takes one call; otherwise it is walked name
// by name.
int OpenFolder(const std::string& path, const char*& failure, bool create = false) {
    const std::string folderPath = path.empty() ? "." : path;
#ifdef SYS_openat2
    open_how how{};
    how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_SYMLINKS;
    const long fast = ::syscall(SYS_openat2, AT_FDCWD, folderPath.c_str(), &how, sizeof how);
    if (fast >= 0 || (errno != ELOOP && errno != ENOSYS && errno != EACCES && errno != EINVAL &&
                      errno != E2BIG && errno != EPERM && !(create && errno == ENOENT))) {
        return static_cast<int>(fast);
    }
#endif
    int walked = WalkToFolder(folderPath, failure, create);
    if (walked < 0) {
        return -1;
    }
    // A folder the user may search but not list stays open only to find
    // names in it.
    const int readable = ::openat(walked, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0) {
        return walked;
    }
    CloseQuietly(walked);
    return readable;
}

// Finds the file `target` leads to: the folder (held open) and the name in
// it, following links under the link rule. `found` tells whether something
// stands there.
bool ResolveTarget(const char* target, bool createFolders, Replacement& replacement,
                   struct stat& info, bool& found) {
    std::string path(target);
    bool throughLink = false;
    for (int hop = 0; hop <= kMaxLinks; ++hop) {
        std::string name = NameOf(path);
        if (name.empty() || name == "." || name == "..") {
            errno = EISDIR;
            return false;
        }
        const std::string folderPath = FolderOf(path);
        // Folders are made only on the way the caller named, never where a
        // link leads.
        int folder = OpenFolder(folderPath, replacement.failure, createFolders && !throughLink);
        if (folder < 0) {
            return false;
        }
        found = ::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found && (errno != ENOENT || throughLink)) {
            replacement.failure = throughLink && errno == ENOENT ? kDanglingLinkText : nullptr;
            CloseQuietly(folder);
            return false;
        }
        if (found && S_ISLNK(info.st_mode)) {
            std::string link;
            if (!MayFollowLink(folder, info)) {
                replacement.failure = kUntrustedLinkText;
                errno = EACCES;
            }
            const bool read = replacement.failure == nullptr && ReadLink(folder, name, link);
            CloseQuietly(folder);
            if (!read) {
                return false;
            }
            path = link[0] == '/' ? link : folderPath + "/" + link;
            throughLink = true;
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

// What a dead run of this user leaves: a regular file of its own with no
// other name. Anything else with a temporary's name is someone's file.
bool LeftoverOfMine(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_uid == ::geteuid();
}

// Removes the temporary files that dead runs of this user left in `folder`:
// those no live process holds locked.
void RemoveStaleTemporaries(int folder) {
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return;
    }
    while (const dirent* entry = ::readdir(listing)) {
        struct stat named {};
        if (!LooksTemporary(entry->d_name) ||
            ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !LeftoverOfMine(named)) {
            continue;
        }
        int fd = ::openat(folder, entry->d_name,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        struct stat opened {};
        // The lock tells a live run's file from a dead one's; the same file
        // must still stand at the name once it is taken.
        if (fd >= 0 && ::fstat(fd, &opened) == 0 && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_ino == opened.st_ino && named.st_dev == opened.st_dev &&
            LeftoverOfMine(named)) {
            ::unlinkat(folder, entry->d_name, 0);
        }
        CloseQuietly(fd);
    }
    ::closedir(listing);
}

// What is learnt of a folder once per process, on the first replacement in
// it, which also sweeps it.
struct FolderFacts {
    bool appendOnly = false;  // names can be added to it, never replaced
};

// Also answers the folder's device and inode in `info` (zero when it
// cannot be asked).
FolderFacts VisitFolder(int folder, struct stat& info) {
    if (::fstat(folder, &info) != 0) {
        info = {};
        return {};
    }
    static std::mutex knownLock;
    static std::map<std::pair<dev_t, ino_t>, FolderFacts> known;
    FolderFacts facts;
    {
        std::lock_guard lock(knownLock);
        const auto found = known.find({info.st_dev, info.st_ino});
        if (found != known.end()) {
            return found->second;
        }
        long flags = 0;
        facts.appendOnly =
            ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_APPEND_FL) != 0;
        known.emplace(std::make_pair(info.st_dev, info.st_ino), facts);
    }
    RemoveStaleTemporaries(folder);
    return facts;
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
    // Not locked: nothing can find it until it is linked in, and it is
    // locked then where it takes a temporary name (see PutInPlace).
    return ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
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

}  // namespace

// A folder held open for a batch (see FolderCache.h).
struct FolderCache::Folder {
    int fd = -1;
    struct stat info {};
    FolderFacts facts;
    // Whether a new file may inherit an ACL from it, as asked when it was
    // opened; true when that could not be asked.
    bool defaultAcl = true;
    // Another folder than the first one opened under its path.
    bool replaced = false;
    // Who a new file in it belongs to, the same for every file this process
    // makes there: learnt from the first.
    std::mutex ownerLock;
    bool ownerKnown = false;
    uid_t uid = 0;
    gid_t gid = 0;

    Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

namespace {

// The owner and group of a new file in `folder` (null: one not held in a
// cache), in `owner`'s st_uid and st_gid.
bool NewFileOwner(FolderCache::Folder* folder, int file, struct stat& owner) {
    if (folder == nullptr) {
        return ::fstat(file, &owner) == 0;
    }
    std::lock_guard guard(folder->ownerLock);
    if (!folder->ownerKnown) {
        if (::fstat(file, &owner) != 0) {
            return false;
        }
        folder->uid = owner.st_uid;
        folder->gid = owner.st_gid;
        folder->ownerKnown = true;
    }
    owner.st_uid = folder->uid;
    owner.st_gid = folder->gid;
    return true;
}

std::string IdentityOf(const struct stat& info) {
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

// The folder of `path` from the cache, when it is the one the batch's plan
// found, and the last name in it; null when that cannot stand for looking.
std::shared_ptr<FolderCache::Folder> FolderAsPlanned(const std::string& path,
                                                     const KnownDestination& known,
                                                     FolderCache& folders, bool createFolders,
                                                     std::string& name) {
    name = NameOf(path);
    if (!known.resolved || name.empty() || name == "." || name == "..") {
        return nullptr;
    }
    const char* failure = nullptr;
    std::shared_ptr<FolderCache::Folder> folder =
        folders.Open(FolderOf(path), createFolders, failure);
    if (!folder || folder->replaced || folder->info.st_ino == 0 ||
        (!known.folderIdentity.empty() && IdentityOf(folder->info) != known.folderIdentity)) {
        return nullptr;
    }
    return folder;
}

// The file the plan found at `name`, opened at once and without effects (no
// link followed, no wait, no terminal taken); -1 unless it is still that
// regular file.
int OpenAsPlanned(int folder, const std::string& name, const KnownDestination& known,
                  struct stat& info) {
    int fd =
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 &&
        (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || IdentityOf(info) != known.identity)) {
        CloseQuietly(fd);
    }
    return fd;
}

// The target as the batch's plan found it, its folder from the cache; false
// when that cannot stand for looking, and the target is resolved afresh.
// An existing file must be the regular file the plan saw; its mode and
// owners as they are then are what the new file is given. A source opened
// as planned, that same file, lends its descriptor instead of a second one.
bool TakeKnown(const char* target, const KnownDestination& known, FolderCache& folders,
               bool createFolders, const OpenedInput* source, Replacement& replacement,
               struct stat& existing) {
    const std::string path(target);
    const int error = errno;
    std::string name;
    std::shared_ptr<FolderCache::Folder> folder =
        FolderAsPlanned(path, known, folders, createFolders, name);
    if (!folder) {
        errno = error;
        return false;
    }
    if (known.exists) {
        if (source != nullptr && source->asPlanned && IdentityOf(source->info) == known.identity) {
            existing = source->info;
            replacement.original = source->file;
            replacement.originalLent = true;
        } else {
            replacement.original = OpenAsPlanned(folder->fd, name, known, existing);
            if (replacement.original < 0) {
                errno = error;
                return false;
            }
        }
        replacement.originalInfo = existing;
    }
    replacement.folder = folder->fd;
    replacement.folderInfo = folder->info;
    replacement.cached = std::move(folder);
    replacement.name = std::move(name);
    replacement.target = path;
    return true;
}

// Lets go of the old file: closed, unless the source lent it.
void ReleaseOriginal(Replacement& replacement) {
    if (replacement.originalLent) {
        replacement.original = -1;
        replacement.originalLent = false;
    }
    CloseQuietly(replacement.original);
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
// `findOnly`: the old file was opened only to find it (the user may write it
// but not read it); it is reached through its /proc path instead.
// `mayInherit`: the new file may have inherited an ACL from its folder.
void KeepAttributes(int from, bool findOnly, int to, bool mayInherit, std::string& notKept) {
    const std::string viaProc = findOnly ? ProcPathOf(from) : "";
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
    if (!hadAcl && mayInherit && ::fremovexattr(to, kAccessAcl) != 0 && errno != ENODATA &&
        errno != ENOTSUP) {
        AddNote(notKept, "ACL");
    }
}

// The flags that chattr shows and that a new file may simply be given.
// Immutable and append-only are left out: a file that has them cannot be
// replaced at all, and the new one must stay movable until it is in place.
constexpr long kKeptFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                            FS_NOATIME_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL |
                            FS_NOCOMP_FL | FS_PROJINHERIT_FL;

void KeepFlags(int from, int to, std::string& notKept) {
    long old = 0;
    long mine = 0;
    if (::ioctl(from, FS_IOC_GETFLAGS, &old) != 0 || (old & kKeptFlags) == 0) {
        return;  // none to keep, or none this file system knows
    }
    if (::ioctl(to, FS_IOC_GETFLAGS, &mine) != 0) {
        mine = 0;
    }
    long wanted = mine | (old & kKeptFlags);
    if (wanted != mine) {
        ::ioctl(to, FS_IOC_SETFLAGS, &wanted);
    }
    if (::ioctl(to, FS_IOC_GETFLAGS, &mine) != 0 ||
        (mine & old & kKeptFlags) != (old & kKeptFlags)) {
        AddNote(notKept, "file flags");
    }
}

// Owner, group, attributes and mode, in that order: a change of owner
// clears set-user-ID bits, and the mode decides the ACL's mask. What could
// not be kept never widens access: a group that is not kept gets no
// permissions, and without the owner or the group the set-user-ID and
// set-group-ID bits go.
void KeepMetadata(Replacement& replacement) {
    struct stat old = replacement.originalInfo;
    struct stat mine {};
    FolderCache::Folder* const folder = replacement.cached.get();
    if ((old.st_ino == 0 && ::fstat(replacement.original, &old) != 0) ||
        !NewFileOwner(folder, replacement.file, mine)) {
        AddNote(replacement.notKept, "permissions");
        return;
    }
    bool ownerKept = old.st_uid == mine.st_uid;
    bool groupKept = old.st_gid == mine.st_gid;
    if ((!ownerKept || !groupKept) && ::fchown(replacement.file, old.st_uid, old.st_gid) == 0) {
        ownerKept = groupKept = true;
    } else if (!groupKept) {
        // Someone other than the owner may still give the file the group.
        groupKept = ::fchown(replacement.file, static_cast<uid_t>(-1), old.st_gid) == 0;
    }
    mode_t mode = old.st_mode & 07777;
    if (!ownerKept) {
        AddNote(replacement.notKept, "owner");
    }
    if (!groupKept) {
        AddNote(replacement.notKept, "group");
        if ((mode & 070) != 0) {
            AddNote(replacement.notKept, "group permissions");
        }
        mode &= ~static_cast<mode_t>(070);
    }
    if (!ownerKept || !groupKept) {
        if ((mode & S_ISUID) != 0) {
            AddNote(replacement.notKept, "set-user-ID bit");
        }
        if ((mode & S_ISGID) != 0) {
            AddNote(replacement.notKept, "set-group-ID bit");
        }
        mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    }
    KeepAttributes(replacement.original, replacement.originalFindOnly, replacement.file,
                   folder == nullptr || folder->defaultAcl, replacement.notKept);
    KeepFlags(replacement.original, replacement.file, replacement.notKept);
    if (::fchmod(replacement.file, mode) != 0) {
        AddNote(replacement.notKept, "permissions");
    }
}

// Gives the anonymous file the name `name`; fails with EEXIST when the
// name is taken.
bool LinkAnonymousAs(const Replacement& replacement, const std::string& name) {
    if (::linkat(AT_FDCWD, ProcPathOf(replacement.file).c_str(), replacement.folder, name.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    return errno != EEXIST &&
           ::linkat(replacement.file, "", replacement.folder, name.c_str(), AT_EMPTY_PATH) == 0;
}

bool LinkAnonymous(Replacement& replacement) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporary = TemporaryNameFor(replacement.name);
        if (LinkAnonymousAs(replacement, temporary)) {
            replacement.temporary = std::move(temporary);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// Puts the file at a name that was free when the replacement began, in one
// step that fails with EEXIST if the name was taken since.
bool PlaceNew(Replacement& replacement) {
    if (replacement.anonymous) {
        return LinkAnonymousAs(replacement, replacement.name);
    }
    const char* const from = replacement.temporary.c_str();
    const char* const to = replacement.name.c_str();
    if (::renameat2(replacement.folder, from, replacement.folder, to, RENAME_NOREPLACE) == 0) {
        replacement.temporary.clear();
        return true;
    }
    // A file system without the exclusive rename still links exclusively.
    if ((errno != EINVAL && errno != ENOSYS) ||
        ::linkat(replacement.folder, from, replacement.folder, to, 0) != 0) {
        return false;
    }
    ::unlinkat(replacement.folder, from, 0);
    replacement.temporary.clear();
    return true;
}

// The name was taken while the new file was written: that file is now the
// one being replaced, on an existing file's terms. Only a regular file is
// taken over; anything else keeps the name, and the replacement fails.
bool TakeOver(Replacement& replacement) {
    struct stat info {};
    if (::fstatat(replacement.folder, replacement.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode)) {
        errno = EEXIST;
        return false;
    }
    replacement.original = ::openat(replacement.folder, replacement.name.c_str(),
                                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (replacement.original < 0) {
        return false;
    }
    replacement.replacesExisting = true;
    KeepMetadata(replacement);
    CloseQuietly(replacement.original);
    return SyncFile(replacement.file);
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

bool CreateReplacement(const char* target, Replacement& replacement, IfNameTaken ifTaken,
                       bool createFolders, const KnownDestination* known, FolderCache* folders,
                       const OpenedInput* source) {
    replacement = {};
    replacement.ifTaken = ifTaken;
    if (target == nullptr || *target == '\0') {
        errno = ENOENT;
        return false;
    }
    struct stat existing {};
    bool exists = false;
    const bool asPlanned =
        known != nullptr && folders != nullptr &&
        TakeKnown(target, *known, *folders, createFolders, source, replacement, existing);
    if (asPlanned) {
        exists = known->exists;
    } else if (!ResolveTarget(target, createFolders, replacement, existing, exists)) {
        return false;
    }
    // A folder from the cache was visited when it was opened.
    bool visited = replacement.cached != nullptr;
    FolderFacts facts = visited ? replacement.cached->facts : FolderFacts{};
    const auto visit = [&] {
        if (!visited) {
            facts = VisitFolder(replacement.folder, replacement.folderInfo);
            visited = true;
        }
        return facts;
    };
    const char* name = replacement.name.c_str();
    if (exists) {
        if (ifTaken == IfNameTaken::Keep) {
            replacement.nameTaken = true;
            errno = EEXIST;
            DiscardReplacement(replacement);
            return false;
        }
        if (!S_ISREG(existing.st_mode)) {
            errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
            DiscardReplacement(replacement);
            return false;
        }
        if (replacement.original < 0) {
            replacement.original =
                ::openat(replacement.folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        }
        if (replacement.original < 0 && errno == EACCES) {
            replacement.original =
                ::openat(replacement.folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
            replacement.originalFindOnly = replacement.original >= 0;
        }
        if (replacement.original < 0 && errno == EWOULDBLOCK) {
            // Another program holds a lease on it; waiting for that program
            // to let go could take most of a minute for each file.
            replacement.failure = kHeldElsewhereText;
        }
        if (replacement.original < 0 ||
            ::faccessat(replacement.folder, name, W_OK, AT_EACCESS) != 0) {
            DiscardReplacement(replacement);
            return false;
        }
        // In an append-only folder a name can be added but never replaced:
        // refused before anything is written there that could not be removed.
        if (visit().appendOnly) {
            errno = EPERM;
            DiscardReplacement(replacement);
            return false;
        }
    }
    visit();
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

bool FinishReplacement(Replacement& replacement, std::uint64_t size) {
    if (replacement.original >= 0) {
        KeepMetadata(replacement);
        ReleaseOriginal(replacement);
    }
    replacement.size = size;
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
        // A file is on its folder's file system.
        struct stat info = replacement.folderInfo;
        if (!ok[i] || replacement.file < 0 ||
            (info.st_ino == 0 && ::fstat(replacement.file, &info) != 0)) {
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
    if (!replacement.replacesExisting) {
        if (PlaceNew(replacement)) {
            CloseQuietly(replacement.file);
            return true;
        }
        if (errno != EEXIST) {
            replacement.failure = kUnableToRenameText;
            return false;
        }
        if (replacement.ifTaken == IfNameTaken::Keep) {
            replacement.nameTaken = true;
            return false;
        }
        if (!TakeOver(replacement)) {
            replacement.failure = errno == EEXIST ? kUnableToRenameText : nullptr;
            return false;
        }
    }
    if (replacement.anonymous && replacement.temporary.empty() &&
        (::flock(replacement.file, LOCK_EX) != 0 || !LinkAnonymous(replacement))) {
        replacement.failure = kUnableToRenameText;
        return false;
    }
    // The file stays open, and so locked, until it has its name: a run
    // sweeping leftovers never takes it.
    if (::renameat(replacement.folder, replacement.temporary.c_str(), replacement.folder,
                   replacement.name.c_str()) != 0) {
        const int error = errno;
        ::unlinkat(replacement.folder, replacement.temporary.c_str(), 0);
        replacement.temporary.clear();
        replacement.failure = kUnableToRenameText;
        errno = error;
        return false;
    }
    replacement.temporary.clear();
    if (::close(replacement.file) != 0) {
        replacement.file = -1;
        return false;  // the new content is in place, but the system says it may not be whole
    }
    replacement.file = -1;
    return true;
}

void SyncFolders(const std::vector<Replacement*>& replacements) {
    std::vector<std::pair<dev_t, ino_t>> done;
    for (Replacement* replacement : replacements) {
        struct stat info = replacement->folderInfo;
        if (!replacement->replacesExisting || replacement->folder < 0 ||
            (info.st_ino == 0 && ::fstat(replacement->folder, &info) != 0)) {
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
    ReleaseOriginal(replacement);
    if (!replacement.temporary.empty() && replacement.folder >= 0) {
        ::unlinkat(replacement.folder, replacement.temporary.c_str(), 0);
        replacement.temporary.clear();
    }
    if (replacement.cached) {
        replacement.cached.reset();  // the cache's to close
        replacement.folder = -1;
    } else {
        CloseQuietly(replacement.folder);
    }
}

std::shared_ptr<FolderCache::Folder> FolderCache::Open(const std::string& path, bool create,
                                                       const char*& failure) {
    std::lock_guard guard(lock);
    for (auto at = held.begin(); at != held.end(); ++at) {
        if (at->first == path) {
            std::rotate(at, at + 1, held.end());
            return held.back().second;
        }
    }
    const int fd = OpenFolder(path, failure, create);
    if (fd < 0) {
        return nullptr;
    }
    auto folder = std::make_shared<Folder>();
    folder->fd = fd;
    folder->facts = VisitFolder(fd, folder->info);
    const ssize_t acl = ::fgetxattr(fd, "system.posix_acl_default", nullptr, 0);
    folder->defaultAcl = acl > 0 || (acl < 0 && errno != ENODATA && errno != ENOTSUP);
    const auto first = firstSeen.emplace(path, IdentityOf(folder->info)).first;
    folder->replaced = first->second != IdentityOf(folder->info);
    if (held.size() >= kMostFolders) {
        held.erase(held.begin());  // open still while a replacement holds it
    }
    held.emplace_back(path, folder);
    return folder;
}

void RemoveFile(const std::string& path) {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

bool FollowsLink(const std::string& folder, const std::string& name) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat info {};
    const bool follows = fd < 0 || ::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
                         !S_ISLNK(info.st_mode) || MayFollowLink(fd, info);
    if (fd >= 0) {
        ::close(fd);
    }
    return follows;
}

OpenedInput OpenInput(const char* path, const KnownDestination* known, FolderCache* folders) {
    OpenedInput input;
    if (path == nullptr) {
        input.whyNot = std::generic_category().message(ENOENT);
        return input;
    }
    if (known != nullptr && folders != nullptr && known->exists) {
        const int error = errno;
        std::string name;
        if (const auto folder = FolderAsPlanned(path, *known, *folders, false, name)) {
            int fd = OpenAsPlanned(folder->fd, name, *known, input.info);
            if (fd >= 0 && input.info.st_size > 0) {
                input.file = fd;
                input.size = static_cast<std::uint64_t>(input.info.st_size);
                input.asPlanned = true;
                return input;
            }
            CloseQuietly(fd);  // empty: said below, as for any file
        }
        errno = error;
    }
    // Found first without being opened: opening a device can have effects
    // (a tape rewinds, a watchdog starts), and a FIFO would wait for a writer.
    int found = ::open(path, O_PATH | O_CLOEXEC);
    struct stat info {};
    if (found < 0 || ::fstat(found, &info) != 0) {
        input.whyNot = std::generic_category().message(errno);
        CloseQuietly(found);
        return input;
    }
    if (S_ISDIR(info.st_mode) || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        input.whyNot = S_ISDIR(info.st_mode)    ? std::generic_category().message(EISDIR)
                       : !S_ISREG(info.st_mode) ? kNotRegularFileText
                                                : kEmptyFileText;
        CloseQuietly(found);
        return input;
    }
    // The very file found is opened for reading, through its descriptor, so
    // nothing can be put in its place in between. A lease another program
    // holds is not waited for.
    const bool throughDescriptor = ProcFdUsable();
    int fd = throughDescriptor
                 ? ::open(ProcPathOf(found).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                 : ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = errno;
    // Opened by name, the file may have been swapped since it was looked at.
    struct stat opened = info;
    if (fd >= 0 && !throughDescriptor &&
        (::fstat(fd, &opened) != 0 || opened.st_ino != info.st_ino ||
         opened.st_dev != info.st_dev)) {
        CloseQuietly(fd);
        input.whyNot = GFXStream::kFileChangedText;
    } else if (fd < 0) {
        input.whyNot =
            error == EWOULDBLOCK ? kHeldElsewhereText : std::generic_category().message(error);
    }
    CloseQuietly(found);
    if (fd >= 0) {
        input.file = fd;
        input.size = static_cast<std::uint64_t>(opened.st_size);
    }
    return input;
}

}  // namespace Files
