#include "batch/DestinationClaims.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "batch/JoinPath.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace Batch {

namespace {

namespace fs = std::filesystem;

// One spelling for every way of naming the same path: links and ".." are
// resolved as far as the path exists, the rest kept as written, made
// absolute.
std::string CanonicalPath(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path, error);
    if (error) {
        canonical = fs::absolute(path, error).lexically_normal();
        if (error) {
            canonical = path.lexically_normal();
        }
    }
    return canonical.string();
}

// The file a destination leads to, by its resolved path (links followed,
// also to a name not yet taken) and, when it exists, by its identity, so
// that a hard link to it counts as it too. Both are claimed: a name may be
// free when one file of the run is planned and taken when the next is.
std::vector<std::string> FileKeys(const fs::path& destination) {
    std::vector<std::string> keys;
#ifndef _WIN32
    struct stat info {};
    if (::stat(destination.c_str(), &info) == 0) {
        keys.push_back("file:" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino));
    }
#endif
    fs::path path = destination;
    std::error_code error;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hop) {
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    keys.push_back("path:" + CanonicalPath(path));
    return keys;
}

}  // namespace

bool DestinationClaims::Claim(std::string_view folder, std::string_view name) {
    const std::string destination = JoinPath(folder.empty() ? "." : folder, name);
    const std::vector<std::string> keys = FileKeys(fs::path(destination));
    for (const std::string& key : keys) {
        if (claimed.count(key) != 0) {
            return false;
        }
    }
    claimed.insert(keys.begin(), keys.end());
    return true;
}

}  // namespace Batch
