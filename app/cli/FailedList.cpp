#include "app/cli/FailedList.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

bool WriteNameList(const std::string& path, const std::vector<std::string>& names,
                   std::string& error) {
    errno = 0;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr;
    for (const std::string& name : names) {
        written = written && std::fwrite(name.c_str(), 1, name.size() + 1, file) == name.size() + 1;
    }
    if (file != nullptr && std::fclose(file) != 0) {
        written = false;
    }
    if (!written) {
        error = std::generic_category().message(errno != 0 ? errno : EIO);
    }
    return written;
}
