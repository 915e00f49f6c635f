#include "batch/DestinationPlan.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "batch/CanonicalPath.h"
#include "files/FileIdentity.h"
#include "files/SystemPath.h"
#include "files/SystemReason.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace Batch {

namespace fs = std::filesystem;

namespace {

// What stands at a path, links followed: nothing, or a file known by an
// identity that every name of it shares.
struct Found {
    bool exists = false;
    bool missing = false;  // nothing there, for certain (not merely unknown)
    bool folder = false;
    bool regular = false;
    std::string identity;
};

#ifndef _WIN32
Found Look(const std::string& path, bool followLinks) {
    struct stat info {};
    Found found;
    const int status = followLinks ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    found.missing = status != 0 && errno == ENOENT;
    if (status == 0) {
        found.exists = true;
        found.folder = S_ISDIR(info.st_mode);
        found.regular = S_ISREG(info.st_mode);
        found.identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
        if (S_ISLNK(info.st_mode)) {
            found.identity.clear();  // the caller follows it
        }
    }
    return found;
}

// Whether the running user may create files in an existing folder.
std::string WhyNotWritable(const std::string& folder) {
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return {};
    }
    return Files::SystemErrorText(errno);
}

std::string NotAFolderText() {
    return Files::SystemErrorText(ENOTDIR);
}
#else
// Windows has no lstat that answers with an identity: the identity comes
// from the file itself (volume serial and file index).
Found Look(const std::string& path, bool followLinks) {
    std::error_code error;
    const fs::path at = Files::SystemPath(path);
    const fs::file_status status =
        followLinks ? fs::status(at, error) : fs::symlink_status(at, error);
    Found found;
    if (!error && fs::exists(status)) {
        found.exists = true;
        found.folder = fs::is_directory(status);
        found.regular = fs::is_regular_file(status);
        if (!fs::is_symlink(status)) {
            found.identity = Files::FileIdentity(path);
            if (found.identity.empty()) {
                found.identity = Files::CaseFolded(CanonicalPath(at));
            }
        }
    }
    return found;
}

std::string WhyNotWritable(const std::string&) {
    return {};  // the system says so when the file is created
}

std::string NotAFolderText() {
    return "Not a directory";
}
#endif

// A destination's folder, looked at once per batch.
struct Folder {
    std::string canonical;  // the spelling every name in it is keyed by
    std::string unwritable;
    // It exists, but the user may not create files in it: a link in it
    // still leads elsewhere.
    std::string closed;
    bool exists = false;
    bool missing = false;  // for certain
    std::string identity;  // when it exists
};

Folder LookAtFolder(const std::string& path) {
    Folder folder;
    const std::string spelt = path.empty() ? "." : path;
    folder.canonical = CanonicalPath(Files::SystemPath(spelt));
    Found found = Look(spelt, true);
    folder.missing = found.missing;
    if (found.exists) {
        folder.exists = found.folder;
        folder.identity = found.identity;
        if (found.folder) {
            folder.closed = WhyNotWritable(spelt);
        } else {
            folder.unwritable = NotAFolderText();
        }
        return folder;
    }
    // Missing folders are created when a file is written: the nearest one
    // that exists must be a folder the user may write.
    for (fs::path above = Files::SystemPath(spelt).parent_path();; above = above.parent_path()) {
        const std::string at = above.empty() ? "." : Files::PathText(above);
        found = Look(at, true);
        if (found.exists) {
            folder.unwritable = found.folder ? WhyNotWritable(at) : NotAFolderText();
            return folder;
        }
        if (above.empty() || above == above.parent_path()) {
            return folder;
        }
    }
}

// The file a destination leads to, and how it is keyed: by identity when
// it exists, so that every name of it counts as it; otherwise by its
// resolved path, so that a link to a name not yet taken counts as that name.
struct Target {
    std::string key;
    bool missing = false;  // for certain
    bool exists = false;
    bool folder = false;
    bool regular = false;
    bool viaLink = false;
    std::string identity;
};

Target Resolve(const std::string& destination, const Folder& folder) {
    Target target;
    const fs::path path = Files::SystemPath(destination);
    // Nothing stands in a folder that does not exist yet.
    const Found named = folder.exists ? Look(destination, false) : Found{};
    target.missing = folder.exists ? named.missing : folder.missing;
    if (!named.exists) {
        target.key = "path:" + Files::CaseFolded(Files::PathText(
                                   Files::SystemPath(folder.canonical) / path.filename()));
        return target;
    }
    const Found found = named.identity.empty() ? Look(destination, true) : named;
    target.exists = true;
    target.viaLink = named.identity.empty();
    if (found.exists) {
        target.folder = found.folder;
        target.regular = found.regular;
        target.identity = found.identity;
        target.key = "file:" + found.identity;
        return target;
    }
    // A link that leads to no file yet: it is keyed by the name it leads to.
    fs::path at = path;
    std::error_code error;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(at, error)); ++hop) {
        const fs::path next = fs::read_symlink(at, error);
        if (error) {
            break;
        }
        at = next.is_absolute() ? next : at.parent_path() / next;
    }
    target.key = "path:" + Files::CaseFolded(CanonicalPath(at));
    return target;
}

std::string Identity(const std::string& path) {
    return Look(path, true).identity;
}

}  // namespace

std::vector<PlannedDestination> PlanDestinations(const std::vector<BatchJob>& jobs) {
    std::vector<PlannedDestination> plan(jobs.size());
    std::unordered_map<std::string, Folder> folders;
    std::vector<Target> targets(jobs.size());
    bool anyExists = false;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const std::string folderPath = fs::path(jobs[i].destination).parent_path().string();
        auto known = folders.find(folderPath);
        if (known == folders.end()) {
            known = folders.emplace(folderPath, LookAtFolder(folderPath)).first;
        }
        const Folder& folder = known->second;
        PlannedDestination& planned = plan[i];
        planned.unwritable = folder.unwritable;
        if (!planned.unwritable.empty()) {
            continue;
        }
        targets[i] = Resolve(jobs[i].destination, folder);
        planned.exists = targets[i].exists;
        anyExists = anyExists || targets[i].exists;
        if (targets[i].exists && !targets[i].regular && !targets[i].identity.empty()) {
            // A folder, or something else that is no file.
            planned.unwritable = Files::WhyNotOpened(jobs[i].destination.c_str(), 0, false);
        } else if (!targets[i].viaLink) {
            planned.unwritable = folder.closed;
        }
        // Only what was found for certain stands for a second look: no
        // file, or a regular file that is no link.
        Files::KnownDestination& found = planned.known;
        found.resolved =
            targets[i].missing || (targets[i].exists && targets[i].regular && !targets[i].viaLink &&
                                   !targets[i].identity.empty());
        found.exists = targets[i].exists;
        found.identity = targets[i].identity;
        found.folderIdentity = folder.exists ? folder.identity : std::string();
    }

    // Sources are looked at where it matters: where a destination exists it
    // may be a source, and where one is shared, two names of one file are
    // told apart from two files.
    std::unordered_map<std::string, std::size_t> sharing;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (plan[i].unwritable.empty()) {
            ++sharing[targets[i].key];
        }
    }
    std::unordered_set<std::string> read;  // identities of the batch's sources
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (anyExists || (plan[i].unwritable.empty() && sharing[targets[i].key] > 1)) {
            // A file repaired in place under the name it was given is the
            // file its destination already found.
            const bool inPlace =
                jobs[i].source == jobs[i].destination && targets[i].exists && !targets[i].viaLink;
            plan[i].source = inPlace ? targets[i].identity : Identity(jobs[i].source);
            if (!plan[i].source.empty()) {
                read.insert(plan[i].source);
            }
        }
    }
    std::unordered_map<std::string, std::size_t> claims;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        PlannedDestination& planned = plan[i];
        const Target& target = targets[i];
        if (!planned.unwritable.empty()) {
            continue;
        }
        // Inputs first: a file of the batch is written only by its own job.
        if (!target.identity.empty() && read.count(target.identity) != 0 &&
            planned.source != target.identity) {
            planned.readByOther = true;
            continue;
        }
        planned.claim = claims.emplace(target.key, i).first->second;
        planned.waits = planned.claim != i;
    }
    return plan;
}

}  // namespace Batch
