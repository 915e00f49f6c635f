#include "batch/ConvertJobs.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

#include "batch/ConvertOneFile.h"
#include "batch/DestinationClaims.h"
#include "batch/EmitFinished.h"
#include "batch/GroupedCommit.h"
#include "batch/ParallelConvert.h"
#include "files/SystemPath.h"

namespace Batch {

namespace {

// Which jobs find their destination already given to an earlier job. Decided
// for the whole list before anything is written, so that which file keeps a
// contested destination depends on list order alone.
std::vector<bool> PlanDestinations(const std::vector<BatchJob>& jobs) {
    DestinationClaims claims;
    std::vector<bool> taken(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const std::filesystem::path destination = Files::SystemPath(jobs[i].destination);
        taken[i] = !claims.Claim(Files::PathText(destination.parent_path()),
                                 Files::PathText(destination.filename()));
    }
    return taken;
}

}  // namespace

unsigned DefaultJobs() {
#ifdef __linux__
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && CPU_COUNT(&allowed) > 0) {
        return static_cast<unsigned>(CPU_COUNT(&allowed));
    }
#endif
    return std::max(1u, std::thread::hardware_concurrency());
}

ConvertSummary ConvertJobs(LogSink& log, const std::vector<BatchJob>& jobs,
                           const ConvertOptions& options) {
    BatchRun run{log, jobs, options, {}};
    const std::vector<bool> taken = PlanDestinations(jobs);
    const unsigned threads = options.jobs == 0 ? DefaultJobs() : options.jobs;
    GroupedCommit commits(
        [&run](std::size_t index, FileResult& result) { EmitOne(run, index, result); });
    run.commits = &commits;
    if (threads > 1 && jobs.size() > 1) {
        ConvertInPool(run, taken, threads);
        commits.Finish();
        return run.summary;
    }

    GFXStream::MappedFileInputStream input;
    GFXStream::FileOutputStream output;
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        if (options.stop != nullptr && options.stop->load()) {
            run.summary.stopped = true;
            break;
        }
        ReportProgress(run, index);
        FileResult result = ConvertOneFile(jobs[index], taken[index], options, input, output);
        EmitFinished(run, index, std::span<FileResult>(&result, 1));
    }
    commits.Finish();
    return run.summary;
}

}  // namespace Batch
