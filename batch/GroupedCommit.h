// Converted files put in place in groups, in the batch's in-order step:
// their new content is made durable with one flush for many files, then
// each is moved over its target, then their texts are emitted. A file's
// "Done" thus appears only once its file is in place; when that fails, its
// line says so instead.
//
// A group is committed when it is full, when as many files wait as the
// batch may hold open (`maxWaiting`), at the end, and also when its first
// file has waited a while (ReplacementGroup::kMaxWait) even if the batch is
// busy with a slow file. A thread of the object's own, started when a file
// first waits, does the committing: the batch goes on converting the next
// group while one is flushed, and the log keeps growing during a long
// batch. One group is flushed at a time; a group due while another is
// flushed waits for it, and the files held by both never exceed
// `maxWaiting`. Every emission, and whatever else must not cross one
// (progress reports), runs under one lock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "batch/ConvertOneFile.h"
#include "files/ReplacementGroup.h"

namespace Batch {

class GroupedCommit {
  public:
    // Appends file `index`'s text and counts its outcome.
    using Emit = std::function<void(std::size_t index, FileResult& result)>;

    // Once `stop` is set (the batch is ending early), the files that still
    // come are committed together at Finish, with one flush instead of one
    // per group, unless they would hold more files open than allowed.
    explicit GroupedCommit(Emit emit, std::size_t maxWaiting = SIZE_MAX,
                           const std::atomic<bool>* stop = nullptr);
    GroupedCommit(const GroupedCommit&) = delete;
    GroupedCommit& operator=(const GroupedCommit&) = delete;
    // Files never committed (the log raised, say) are discarded.
    ~GroupedCommit();

    // Takes file `index`'s result, in list order. Its text is emitted once
    // every file before it is and its own file is in place.
    void Record(std::size_t index, FileResult result);
    // Runs `step` without crossing an emission.
    void Locked(const std::function<void()>& step);
    // Commits what still waits and emits the remaining texts; raises what
    // the log raised if it failed on the watching thread. The batch may go
    // on afterwards.
    void Finish();

  private:
    struct Waiting {
        std::size_t index = 0;
        FileResult result;
        bool inGroup = false;
    };
    // A group taken to be flushed, with the texts that wait for it.
    struct Handed {
        Files::ReplacementGroup group;
        std::vector<Waiting> files;
        std::size_t holding = 0;
    };

    // All with `lock` held; Flush lets go of it while the group is flushed.
    bool Busy() const { return handed.has_value() || flushing; }
    bool MustHandOver() const;
    Handed TakeGroup();
    void Flush(std::unique_lock<std::mutex>& guard, Handed files);
    void EmitReady();
    bool StartWatching();
    bool Stopping() const;
    void Watch();

    Emit emit;
    Files::ReplacementGroup group;
    std::size_t maxWaiting;
    std::size_t holding = 0;  // files of `waiting` that hold their new file
    std::vector<Waiting> waiting;
    std::optional<Handed> handed;  // for the watcher to flush
    bool flushing = false;
    std::size_t held = 0;  // files held by the group handed or being flushed
    std::mutex lock;
    std::condition_variable changed;
    bool ending = false;
    const std::atomic<bool>* stop;
    std::exception_ptr failure;
    std::thread watcher;
};

}  // namespace Batch
