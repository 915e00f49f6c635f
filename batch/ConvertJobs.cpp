#include "batch/ConvertJobs.h"

#include <algorithm>
#include <thread>

#ifdef __linux__
#include <sched.h>
#endif

#include "batch/ConvertOneFile.h"
#include "batch/DestinationPlan.h"
#include "batch/EmitFinished.h"
#include "batch/GroupedCommit.h"
#include "batch/OpenFileLimit.h"
#include "batch/ParallelConvert.h"
#include "files/SystemPath.h"

namespace Batch {

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
    const OpenFileLimit limit;
    const DescriptorBudget budget =
        ShareDescriptors(limit.Limit(), options.jobs == 0 ? DefaultJobs() : options.jobs);
    const std::vector<PlannedDestination> plan = PlanDestinations(jobs);
    BatchRun run(log, jobs, options, plan);
    GroupedCommit commits(
        [&run](std::size_t index, FileResult& result) { EmitOne(run, index, result); },
        budget.waitingFiles, options.stop);
    run.commits = &commits;
    if (budget.threads > 1 && jobs.size() > 1) {
        ConvertInPool(run, budget.threads, budget.aheadFiles);
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
        FileResult result =
            ConvertOneFile(jobs[index], plan[index], options, input, output, run.folders);
        EmitFinished(run, index, std::span<FileResult>(&result, 1));
    }
    commits.Finish();
    return run.summary;
}

}  // namespace Batch
