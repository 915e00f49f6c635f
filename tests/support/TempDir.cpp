#include "support/TempDir.h"

#include <atomic>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Readable by everyone, so that a child running as another user can reach
// what a test puts there.
constexpr fs::perms kOpenFolder = fs::perms::owner_all | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read |
                                  fs::perms::others_exec;

}  // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 100 && text_.empty(); ++attempt) {
        const fs::path candidate = base / ("tessary-test-" + std::to_string(random()) + "-" +
                                           std::to_string(counter.fetch_add(1)));
        std::error_code error;
        // Fails when the name is taken, so the folder is never someone else's.
        if (fs::create_directory(candidate, error)) {
            path_ = candidate;
            text_ = candidate.string();
        }
    }
    if (text_.empty()) {
        throw std::runtime_error("cannot create a temporary folder in " + base.string());
    }
    std::error_code ignored;
    fs::permissions(path_, kOpenFolder, ignored);
}

TempDir::~TempDir() {
    std::error_code walk;
    std::error_code ignored;
    // A test may have taken write permission away from a folder or a file.
    for (fs::recursive_directory_iterator it(path_, walk), end; !walk && it != end;
         it.increment(walk)) {
        if (it->is_symlink(ignored)) {
            continue;
        }
        if (it->is_directory(ignored)) {
            fs::permissions(it->path(), kOpenFolder, ignored);
        } else {
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        }
    }
    fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(std::string_view relative) const {
    return text_ + static_cast<char>(fs::path::preferred_separator) + std::string(relative);
}
