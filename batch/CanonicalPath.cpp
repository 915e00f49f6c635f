#include "batch/CanonicalPath.h"

#include <system_error>

#include "files/SystemPath.h"

namespace Batch {

namespace fs = std::filesystem;

std::string CanonicalPath(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path.empty() ? fs::path(".") : path, error);
    if (error) {
        canonical = fs::absolute(path, error).lexically_normal();
        if (error) {
            canonical = path.lexically_normal();
        }
    }
    return Files::PathText(canonical);
}

}  // namespace Batch
