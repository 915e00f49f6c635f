#include "batch/GroupedCommit.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "batch/AppendLog.h"

namespace Batch {

GroupedCommit::GroupedCommit(Emit emitter, std::size_t waitingLimit,
                             const std::atomic<bool>* stopFlag)
    : emit(std::move(emitter)),
      maxWaiting(std::max<std::size_t>(waitingLimit, 1)),
      stop(stopFlag) {}

GroupedCommit::~GroupedCommit() {
    {
        std::lock_guard guard(lock);
        ending = true;
    }
    changed.notify_all();
    if (watcher.joinable()) {
        watcher.join();
    }
}

void GroupedCommit::Record(std::size_t index, FileResult result) {
    std::unique_lock guard(lock);
    if (failure) {
        return;  // Finish raises it
    }
    if (!result.finished.Pending()) {
        result.finished.Release();  // a new name, in place already
    }
    if (result.finished.Empty() && waiting.empty() && !Busy()) {
        emit(index, result);
        return;
    }
    const bool first = group.Empty();
    const bool inGroup = !result.finished.Empty();
    if (inGroup) {
        group.Add(std::move(result.finished));
        ++holding;
    }
    waiting.push_back({index, std::move(result), inGroup});
    while (!failure && MustHandOver()) {
        if (Busy()) {
            changed.wait(guard);
            continue;
        }
        handed = TakeGroup();
        if (StartWatching()) {
            changed.notify_all();
        } else {
            Flush(guard, *std::exchange(handed, std::nullopt));
        }
        return;
    }
    if (first && StartWatching()) {
        changed.notify_all();  // the watcher's clock starts
    }
}

void GroupedCommit::Locked(const std::function<void()>& step) {
    std::lock_guard guard(lock);
    step();
}

void GroupedCommit::Finish() {
    std::unique_lock guard(lock);
    changed.wait(guard, [this] { return !Busy() || failure; });
    if (!failure && (!group.Empty() || !waiting.empty())) {
        Flush(guard, TakeGroup());
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool GroupedCommit::MustHandOver() const {
    return !group.Empty() && ((group.Due() && !Stopping()) || holding + held >= maxWaiting);
}

GroupedCommit::Handed GroupedCommit::TakeGroup() {
    Handed taken{std::exchange(group, Files::ReplacementGroup()), std::move(waiting), holding};
    waiting.clear();
    held += holding;
    holding = 0;
    return taken;
}

void GroupedCommit::Flush(std::unique_lock<std::mutex>& guard, Handed files) {
    flushing = true;
    guard.unlock();
    std::vector<const char*> failures;
    std::exception_ptr raised;
    try {
        failures = files.group.Commit();
    } catch (...) {
        raised = std::current_exception();
    }
    guard.lock();
    flushing = false;
    held -= files.holding;
    changed.notify_all();
    if (raised) {
        std::rethrow_exception(raised);
    }
    std::size_t next = 0;
    for (Waiting& file : files.files) {
        if (file.inGroup) {
            const char* const failed = failures[next++];
            if (failed != nullptr) {
                file.result.log.resize(file.result.doneAt);
                AppendLog(file.result.log, "Error: %s\n", failed);
                file.result.outcome = FileOutcome::Failed;
            }
        }
        emit(file.index, file.result);
    }
    EmitReady();
}

// The texts that came while a group was flushed and wait for no group.
void GroupedCommit::EmitReady() {
    std::size_t ready = 0;
    while (ready < waiting.size() && !waiting[ready].inGroup) {
        ++ready;
    }
    std::vector<Waiting> emitted(
        std::make_move_iterator(waiting.begin()),
        std::make_move_iterator(waiting.begin() + static_cast<std::ptrdiff_t>(ready)));
    waiting.erase(waiting.begin(), waiting.begin() + static_cast<std::ptrdiff_t>(ready));
    for (Waiting& file : emitted) {
        emit(file.index, file.result);
    }
}

bool GroupedCommit::Stopping() const {
    return stop != nullptr && stop->load();
}

bool GroupedCommit::StartWatching() {
    // Only once a file waits: a batch into a new folder, whose files are in
    // place as soon as they are written, never needs the thread.
    if (!watcher.joinable()) {
        try {
            watcher = std::thread([this] { Watch(); });
        } catch (const std::system_error&) {
            // Without the thread, groups are committed here when due and at
            // the end.
        }
    }
    return watcher.joinable();
}

void GroupedCommit::Watch() {
    std::unique_lock guard(lock);
    while (!ending) {
        if (failure) {
            if (handed) {
                held -= handed->holding;
                handed.reset();  // its files are discarded
            }
            changed.wait(guard);
        } else if (handed) {
            try {
                Flush(guard, *std::exchange(handed, std::nullopt));
            } catch (...) {
                failure = std::current_exception();
                changed.notify_all();
            }
        } else if (group.Empty() || Busy()) {
            changed.wait(guard);
        } else if (group.Due() && !Stopping()) {
            handed = TakeGroup();
        } else {
            changed.wait_for(guard, Files::ReplacementGroup::kMaxWait / 4);
        }
    }
}

}  // namespace Batch
