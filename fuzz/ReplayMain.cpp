// Runs every file of the folders (and files) named on the command line
// through the fuzz target, in a stable order, so that a corpus, the seeds
// and every crasher ever found are replayed by the test suite with any
// compiler. A broken property aborts the process; a clean run prints how
// many inputs it replayed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "FuzzTarget.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> FilesUnder(const fs::path& root) {
    std::vector<fs::path> files;
    std::error_code error;
    if (fs::is_regular_file(root, error)) {
        files.push_back(root);
        return files;
    }
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && it->path().filename() != "README.md") {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool ReadWhole(const fs::path& path, std::vector<std::uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER_OR_FILE...\n", argv[0]);
        return 2;
    }
    std::size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path root(argv[i]);
        std::error_code error;
        if (!fs::exists(root, error)) {
            std::fprintf(stderr, "%s: no such file or folder\n", argv[i]);
            return 2;
        }
        for (const fs::path& file : FilesUnder(root)) {
            std::vector<std::uint8_t> bytes;
            if (!ReadWhole(file, bytes)) {
                std::fprintf(stderr, "%s: cannot read\n", file.c_str());
                return 2;
            }
            // A copy of exactly the file's size, so that the sanitizers see
            // any read past the end of the input.
            const std::vector<std::uint8_t> exact(bytes);
            LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
