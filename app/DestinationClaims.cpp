#include "app/DestinationClaims.h"

#include <filesystem>
#include <system_error>

#include "app/FileList.h"

namespace {

// One spelling for every way of naming the same folder. A folder that does
// not exist yet keeps its lexical form, made absolute.
std::string CanonicalFolder(std::string_view folder) {
    namespace fs = std::filesystem;
    const fs::path path = folder.empty() ? fs::path(".") : fs::path(folder);
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

}  // namespace

bool DestinationClaims::Claim(std::string_view folder, std::string_view name) {
    return claimed.insert(JoinPath(CanonicalFolder(folder), name)).second;
}
