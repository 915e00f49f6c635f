#include "app/ParallelConvert.h"

#include "app/GroupedCommit.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

class Batch {
  public:
    Batch(const std::vector<FileJob>& jobs, const ConvertOptions& options)
        : jobs_(jobs), options_(options), slots_(jobs.size()) {}

    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    ~Batch() {
        // Also on the way out of an exception from the log: no worker may
        // outlive the batch it reads.
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

    // The result of file `index` once it is done, or false when the batch
    // stopped before that file was begun.
    bool Take(std::size_t index, FileResult& result) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return slots_[index].done || NoMoreStarts(index); });
        if (!slots_[index].done) {
            return false;
        }
        result = std::move(slots_[index].result);
        return true;
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
                std::lock_guard lock(mutex_);
                const bool stopRequested = options_.stop != nullptr && options_.stop->load();
                if (next_ == jobs_.size() || stopRequested || abandoned_) {
                    startsEnded_ = true;
                    changed_.notify_all();
                    return;
                }
                index = next_++;
            }
            FileResult result = ConvertOneFile(jobs_[index], options_.rle, input, output);
            {
                std::lock_guard lock(mutex_);
                slots_[index].result = std::move(result);
                slots_[index].done = true;
            }
            changed_.notify_all();
        }
    }

    const std::vector<FileJob>& jobs_;
    const ConvertOptions& options_;
    std::vector<Slot> slots_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;
    bool startsEnded_ = false;
    bool abandoned_ = false;
};

}  // namespace

ConvertSummary ConvertJobsInParallel(LogSink& log, const std::vector<FileJob>& jobs,
                                     const ConvertOptions& options) {
    ConvertSummary summary;
    if (jobs.empty()) {
        return summary;
    }
    GroupedCommit report(log, summary);  // outlives the batch: no worker holds a file
    Batch batch(jobs, options);
    batch.Start(
        static_cast<unsigned>(std::clamp<std::size_t>(options.jobs, std::size_t{1}, jobs.size())));
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        FileResult result;
        if (!batch.Take(index, result)) {
            summary.stopped = true;
            break;
        }
        report.Progress(options.progress, FileProgress{index, jobs.size(), jobs[index].name});
        report.Record(std::move(result));
    }
    report.Finish();
    return summary;
}
