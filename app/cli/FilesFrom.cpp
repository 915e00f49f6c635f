#include "app/cli/FilesFrom.h"

#include <cerrno>
#include <system_error>

namespace {

void Add(std::vector<std::string>& names, std::string& name, bool nulSeparated) {
#ifdef _WIN32
    // Lists written on Windows end their lines with "\r\n".
    if (!nulSeparated && !name.empty() && name.back() == '\r') {
        name.pop_back();
    }
#else
    (void)nulSeparated;
#endif
    if (!name.empty()) {
        names.push_back(std::move(name));
    }
    name.clear();
}

}  // namespace

bool ReadFileNames(std::FILE* stream, bool nulSeparated, std::vector<std::string>& names,
                   std::string& error) {
    const char end = nulSeparated ? '\0' : '\n';
    std::string name;
    char block[65536];
    std::size_t n = 0;
    while ((n = std::fread(block, 1, sizeof block, stream)) > 0) {
        for (std::size_t i = 0; i < n; ++i) {
            if (block[i] != end) {
                name.push_back(block[i]);
            } else {
                Add(names, name, nulSeparated);
            }
        }
    }
    if (std::ferror(stream)) {
        error = std::generic_category().message(errno);
        return false;
    }
    Add(names, name, nulSeparated);
    return true;
}
