#include "app/win32/FileList.h"

#include <cstring>

namespace {
// Windows takes either separator in a path and writes the backslash.
#ifdef _WIN32
constexpr std::string_view kSeparators = "\\/";
#else
constexpr std::string_view kSeparators = "/";
#endif
}  // namespace

SplitFileListResult SplitFileList(const char* fileList) {
    SplitFileListResult result;
    if (fileList == nullptr || *fileList == '\0') {
        return result;
    }
    const char* first = fileList;
    const char* next = first + std::strlen(first) + 1;
    if (*next == '\0') {
        const std::string_view path(first);
        const auto slash = path.find_last_of(kSeparators);
        if (slash == std::string_view::npos) {
            result.names.emplace_back(path);
        } else {
            // Cutting "/x.tga" at its slash would leave no folder at all,
            // which means the current directory rather than the root.
            result.folder = std::string(path.substr(0, slash == 0 ? 1 : slash));
            const std::string_view name = path.substr(slash + 1);
            if (!name.empty()) {
                result.names.emplace_back(name);
            }
        }
        return result;
    }
    result.folder = first;
    for (const char* name = next; *name != '\0'; name += std::strlen(name) + 1) {
        result.names.emplace_back(name);
    }
    return result;
}
