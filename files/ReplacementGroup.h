// Finished replacements committed together, so that a batch of many files
// pays a handful of flushes to disk instead of one per file.
//
// The promise of a single replacement holds for each file of a group: its
// target is replaced only once the new content is on disk, and a crash
// leaves the old file or the new one. Committing a group flushes each file
// system once for all its files, then moves each file into place, then
// flushes each touched folder once.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "files/FileSystem.h"

namespace Files {

// A complete replacement that has not been put in place yet. Dropped without
// a commit, its file is discarded and the target stays as it was.
class FinishedReplacement {
  public:
    FinishedReplacement() = default;
    explicit FinishedReplacement(Files::Replacement finished)
        : replacement(std::move(finished)), held(true) {}
    FinishedReplacement(FinishedReplacement&& other) noexcept;
    FinishedReplacement& operator=(FinishedReplacement&& other) noexcept;
    FinishedReplacement(const FinishedReplacement&) = delete;
    FinishedReplacement& operator=(const FinishedReplacement&) = delete;
    ~FinishedReplacement();

    bool Empty() const { return !held; }
    // Whether committing it is still to be done: a new name is in place
    // already, while an existing file's replacement waits for its flush
    // (or, put in place at once, for its folder's flush).
    bool Pending() const {
#ifdef _WIN32
        return held && replacement.waitsForGroup;
#else
        return held && (replacement.waitsForGroup || replacement.replacesExisting);
#endif
    }
    // What the old file had that the new one could not keep; empty when all.
    const std::string& NotKept() const {
        return replacement.notKept;
    }
    Files::Replacement& Get() {
        return replacement;
    }
    void Release() noexcept;

  private:
    Files::Replacement replacement;
    bool held = false;
};

class ReplacementGroup {
  public:
    // A group is committed once it holds this many files or bytes, or once
    // its first file has waited this long: many small files share a flush,
    // and a large file, whose own writing dwarfs a flush, is not held back.
    static constexpr std::size_t kMaxFiles = 128;
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{64} << 20;
    static constexpr std::chrono::milliseconds kMaxWait{1000};

    ReplacementGroup();

    // Answers the file's place in the group.
    std::size_t Add(FinishedReplacement finished);
    bool Empty() const { return files.empty(); }
    bool Due() const;
    // Commits every file and empties the group. Answers, in the order the
    // files were added, null for a file now in place, or the text of its
    // failure (its target then keeps its old content).
    std::vector<const char*> Commit();

  private:
    std::vector<FinishedReplacement> files;
    std::uint64_t bytes = 0;
    std::size_t maxFiles;
    std::chrono::steady_clock::time_point firstAdded;
};

}  // namespace Files
