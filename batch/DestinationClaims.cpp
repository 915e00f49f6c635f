#include "batch/DestinationClaims.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "batch/JoinPath.h"
#include "files/FileIdentity.h"
#include "files/SystemPath.h"

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
    return Files::PathText(canonical);
}

// The file a destination leads to, by its resolved path (links followed,
// also to a name not yet taken) and, when it exists, by its identity, so
// that a hard link to it counts as it too. Both are claimed: a name may be
// free when one file of the run is planned and taken when the next is.
std::vector<std::string> FileKeys(const fs::path& destination) {
    std::vector<std::string> keys;
    if (const std::string identity = Files::FileIdentity(Files::PathText(destination));
        !identity.empty()) {
        keys.push_back("file:" + identity);
    }
    fs::path path = destination;
    std::error_code error;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(path, error)); ++hop) {
        const fs::path target = fs::read_symlink(path, error);
        if (error) {
            break;
        }
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    // A name not yet taken has no identity: where the file system ignores
    // letter case, "X.tga" and "x.tga" are still one destination.
    keys.push_back("path:" + Files::CaseFolded(CanonicalPath(path)));
    return keys;
}

}  // namespace

bool DestinationClaims::Claim(std::string_view folder, std::string_view name) {
    const std::string destination = JoinPath(folder.empty() ? "." : folder, name);
    const std::vector<std::string> keys = FileKeys(Files::SystemPath(destination));
    for (const std::string& key : keys) {
        if (claimed.count(key) != 0) {
            return false;
        }
    }
    claimed.insert(keys.begin(), keys.end());
    return true;
}

}  // namespace Batch
