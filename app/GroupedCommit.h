// The batch's in-order report step, where converted files are put in place
// in groups: their new content is made durable with one flush for many
// files, then each is moved over its target, then the log receives their
// texts. A file's "Done" thus appears only once its file is in place; when
// that fails, its line says so instead.
//
// A group is committed when it is full, at the end, and also when its first
// file has waited a while (ReplacementGroup::kMaxWait) even if the batch is
// busy with a slow file: a thread of the object's own watches for that, so
// the log keeps growing during a long batch.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "app/ConvertFiles.h"
#include "app/ConvertOneFile.h"
#include "gfxstream/ReplacementGroup.h"

class GroupedCommit {
  public:
    GroupedCommit(LogSink& sink, ConvertSummary& counts);
    GroupedCommit(const GroupedCommit&) = delete;
    GroupedCommit& operator=(const GroupedCommit&) = delete;
    // Files never committed (the log raised, say) are discarded.
    ~GroupedCommit();

    // Takes the next file's result, in list order. Its text is appended
    // once every file before it is reported and its own file is in place.
    void Record(FileResult result);
    // Reports progress to `progress` without crossing a log text that the
    // watching thread appends.
    void Progress(const std::function<void(const FileProgress&)>& progress,
                  const FileProgress& file);
    // Commits what still waits and appends the remaining texts; raises
    // what the log raised if it failed on the watching thread.
    void Finish();

  private:
    void Commit();  // with `lock` held
    void Watch();

    LogSink& log;
    ConvertSummary& summary;
    GFXStream::ReplacementGroup group;
    struct Waiting {
        FileResult result;
        bool inGroup = false;
    };
    std::vector<Waiting> waiting;
    std::mutex lock;
    std::condition_variable changed;
    bool ending = false;
    std::exception_ptr failure;
    std::thread watcher;
};
