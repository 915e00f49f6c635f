#include "batch/JoinPath.h"

namespace Batch {

namespace {
// Windows takes either separator in a path and writes the backslash.
#ifdef _WIN32
constexpr std::string_view kSeparators = "\\/";
constexpr char kSeparator = '\\';
#else
constexpr std::string_view kSeparators = "/";
constexpr char kSeparator = '/';
#endif
}  // namespace

std::string JoinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && kSeparators.find(path.back()) == std::string_view::npos) {
        path.push_back(kSeparator);
    }
    path.append(name);
    return path;
}

}  // namespace Batch
