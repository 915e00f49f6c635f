#include "files/ReplacementGroup.h"

#include <algorithm>

#include "gfxstream/OutputStream.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace Files {

FinishedReplacement::FinishedReplacement(FinishedReplacement&& other) noexcept
    : replacement(std::move(other.replacement)), held(other.held) {
    other.replacement = {};
    other.held = false;
}

FinishedReplacement& FinishedReplacement::operator=(FinishedReplacement&& other) noexcept {
    if (this != &other) {
        Release();
        replacement = std::move(other.replacement);
        held = other.held;
        other.replacement = {};
        other.held = false;
    }
    return *this;
}

FinishedReplacement::~FinishedReplacement() {
    Release();
}

void FinishedReplacement::Release() noexcept {
    if (held) {
        Files::DiscardReplacement(replacement);
        held = false;
    }
}

namespace {

// Each waiting file holds two descriptors (the file and its folder); a
// group never takes more than a quarter of what the process may open.
std::size_t GroupLimit() {
    std::size_t limit = ReplacementGroup::kMaxFiles;
#ifndef _WIN32
    struct rlimit files {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
        limit = std::min<std::size_t>(limit, static_cast<std::size_t>(files.rlim_cur / 8));
    }
#endif
    return std::max<std::size_t>(limit, 1);
}

}  // namespace

ReplacementGroup::ReplacementGroup() : maxFiles(GroupLimit()) {}

std::size_t ReplacementGroup::Add(FinishedReplacement finished) {
    if (files.empty()) {
        firstAdded = std::chrono::steady_clock::now();
    }
    bytes += finished.Get().size;
    files.push_back(std::move(finished));
    return files.size() - 1;
}

bool ReplacementGroup::Due() const {
    return !files.empty() && (files.size() >= maxFiles || bytes >= kMaxBytes ||
                              std::chrono::steady_clock::now() - firstAdded >= kMaxWait);
}

std::vector<const char*> ReplacementGroup::Commit() {
    std::vector<Files::Replacement*> all;
    std::vector<Files::Replacement*> waiting;
    std::vector<bool> ok;
    for (FinishedReplacement& file : files) {
        all.push_back(&file.Get());
        if (file.Get().waitsForGroup) {
            waiting.push_back(&file.Get());
            ok.push_back(true);
        }
    }
    Files::SyncReplacements(waiting, ok);
    std::vector<const char*> failures(files.size(), nullptr);
    for (std::size_t i = 0, w = 0; i < files.size(); ++i) {
        Files::Replacement& replacement = files[i].Get();
        if (!replacement.waitsForGroup) {
            continue;  // already in place
        }
        if (!ok[w++]) {
            failures[i] = GFXStream::kUnableToWriteText;
        } else if (!Files::PutInPlace(replacement)) {
            failures[i] = replacement.failure != nullptr ? replacement.failure
                                                         : GFXStream::kUnableToWriteText;
        }
    }
    Files::SyncFolders(all);
    files.clear();  // releases what each still holds, and any file not put in place
    bytes = 0;
    return failures;
}

}  // namespace Files
