#include "batch/ParallelConvert.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace Batch {

namespace {

constexpr std::chrono::milliseconds kStopPoll{50};

class Pool {
  public:
    Pool(BatchRun& run, std::size_t aheadFiles)
        : jobs_(run.jobs),
          options_(run.options),
          plan_(run.plan),
          folders_(run.folders),
          slots_(run.jobs.size()),
          aheadLimit_(std::max<std::size_t>(aheadFiles, 1)) {}

    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    ~Pool() {
        // Also on the way out of an exception from the log: no worker may
        // outlive the list it reads.
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        for (std::thread& worker : workers_) {
            worker.join();
        }
    }

    void Start(unsigned count) {
        for (unsigned i = 0; i < count; ++i) {
            try {
                workers_.emplace_back([this] { Work(); });
            } catch (const std::system_error&) {
                break;  // the threads already running share the list
            }
        }
        if (workers_.empty()) {
            Work();
        }
    }

    // Waits for file `first` and moves into `finished` its result and those
    // of the files after it that are done too. Answers false when the batch
    // stopped before file `first` was begun.
    bool TakeFinished(std::size_t first, std::vector<FileResult>& finished) {
        finished.clear();
        std::unique_lock lock(mutex_);
        // Every file before `first` has been handed on and recorded: the
        // workers may begin as many more.
        if (taken_ < first) {
            taken_ = first;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return slots_[first].done || NoMoreStarts(first); });
        for (std::size_t i = first; i < slots_.size() && slots_[i].done; ++i) {
            finished.push_back(std::move(slots_[i].result));
        }
        return !finished.empty();
    }

  private:
    struct Slot {
        FileResult result;
        bool done = false;
    };

    // Files are begun in list order, so the ones begun are always the first
    // `next_`. Once a worker has found the list ended, the stop requested or
    // the batch abandoned (none of which is ever undone), no further file is
    // begun, and a file beyond the first `next_` will never come.
    bool NoMoreStarts(std::size_t index) const { return startsEnded_ && index >= next_; }

    void Work() {
        GFXStream::MappedFileInputStream input;
        GFXStream::FileOutputStream output;
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(mutex_);
                for (;;) {
                    const bool stopRequested = options_.stop != nullptr && options_.stop->load();
                    if (next_ == jobs_.size() || stopRequested || abandoned_) {
                        startsEnded_ = true;
                        changed_.notify_all();
                        return;
                    }
                    if (next_ - taken_ < aheadLimit_) {
                        break;
                    }
                    // Finished files hold their new file open until the
                    // in-order step has committed them; a worker running
                    // further ahead would take descriptors the next file
                    // needs. The stop flag is set without a notification.
                    changed_.wait_for(lock, kStopPoll);
                }
                index = next_++;
            }
            FileResult result =
                ConvertOneFile(jobs_[index], plan_[index], options_, input, output, folders_);
            {
                std::lock_guard lock(mutex_);
                slots_[index].result = std::move(result);
                slots_[index].done = true;
            }
            changed_.notify_all();
        }
    }

    const std::vector<BatchJob>& jobs_;
    const ConvertOptions& options_;
    const std::vector<PlannedDestination>& plan_;
    Files::FolderCache& folders_;  // shared, guarded by its own lock
    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    const std::size_t aheadLimit_;
    std::size_t next_ = 0;
    std::size_t taken_ = 0;  // files the in-order step has recorded
    bool startsEnded_ = false;
    bool abandoned_ = false;
};

}  // namespace

void ConvertInPool(BatchRun& run, unsigned threads, std::size_t aheadFiles) {
    const std::size_t count = run.jobs.size();
    if (count == 0) {
        return;
    }
    Pool pool(run, aheadFiles);
    pool.Start(static_cast<unsigned>(std::clamp<std::size_t>(threads, std::size_t{1}, count)));
    std::vector<FileResult> finished;
    for (std::size_t index = 0; index < count; index += finished.size()) {
        if (!pool.TakeFinished(index, finished)) {
            run.summary.stopped = true;
            break;
        }
        for (std::size_t i = 0; i < finished.size(); ++i) {
            ReportProgress(run, index + i);
        }
        EmitFinished(run, index, finished);
    }
}

}  // namespace Batch
