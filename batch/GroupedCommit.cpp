#include "batch/GroupedCommit.h"

#include <system_error>
#include <utility>

#include "batch/AppendLog.h"

namespace Batch {

GroupedCommit::GroupedCommit(Emit emitter) : emit(std::move(emitter)) {
    try {
        watcher = std::thread([this] { Watch(); });
    } catch (const std::system_error&) {
        // Without the thread, groups are committed when full and at the end.
    }
}

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
    std::lock_guard guard(lock);
    if (failure) {
        return;  // Finish raises it
    }
    if (!result.finished.Pending()) {
        result.finished.Release();  // a new name, in place already
    }
    if (result.finished.Empty() && waiting.empty()) {
        emit(index, result);
        return;
    }
    const bool first = group.Empty();
    const bool inGroup = !result.finished.Empty();
    if (inGroup) {
        group.Add(std::move(result.finished));
    }
    waiting.push_back({index, std::move(result), inGroup});
    if (group.Due()) {
        Commit();
    } else if (first) {
        changed.notify_all();  // the watcher's clock starts
    }
}

void GroupedCommit::Locked(const std::function<void()>& step) {
    std::lock_guard guard(lock);
    step();
}

void GroupedCommit::Finish() {
    std::lock_guard guard(lock);
    if (failure) {
        std::rethrow_exception(failure);
    }
    Commit();
}

void GroupedCommit::Commit() {
    const std::vector<const char*> failures = group.Commit();
    std::size_t next = 0;
    std::vector<Waiting> reported = std::move(waiting);
    waiting.clear();
    for (Waiting& file : reported) {
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
}

void GroupedCommit::Watch() {
    std::unique_lock guard(lock);
    while (!ending) {
        if (group.Empty() || failure) {
            changed.wait(guard);
        } else if (group.Due()) {
            try {
                Commit();
            } catch (...) {
                failure = std::current_exception();
            }
        } else {
            changed.wait_for(guard, Files::ReplacementGroup::kMaxWait / 4);
        }
    }
}

}  // namespace Batch
