#include "app/ConvertFiles.h"

#include <vector>

#include "app/ConvertOneFile.h"
#include "app/FileList.h"
#include "app/GroupedCommit.h"
#include "app/ParallelConvert.h"

namespace {

// The whole list is planned before anything is written, so that which file
// keeps a contested destination depends on list order alone.
std::vector<FileJob> PlanJobs(const char* destinationFolder, const char* fileList,
                              DestinationClaims& claims) {
    SplitFileListResult split = SplitFileList(fileList);
    std::vector<FileJob> jobs;
    jobs.reserve(split.names.size());
    for (std::string& name : split.names) {
        FileJob job;
        job.sourcePath = JoinPath(split.folder, name);
        job.destinationFolder = destinationFolder;
        job.destinationTaken = !claims.Claim(destinationFolder, name);
        job.name = std::move(name);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

}  // namespace

ConvertSummary ConvertFiles(LogSink& log, const char* destinationFolder, const char* fileList,
                            const ConvertOptions& options) {
    if (destinationFolder == nullptr) {
        destinationFolder = "";
    }
    ConvertSummary summary;
    GFXStream::MappedFileInputStream input;
    GFXStream::FileOutputStream output;
    log.Clear();

    DestinationClaims ownClaims;
    DestinationClaims& claims = options.claims != nullptr ? *options.claims : ownClaims;
    const std::vector<FileJob> jobs = PlanJobs(destinationFolder, fileList, claims);
    if (options.jobs > 1 && jobs.size() > 1) {
        return ConvertJobsInParallel(log, jobs, options);
    }

    GroupedCommit report(log, summary);
    for (std::size_t index = 0; index < jobs.size(); ++index) {
        if (options.stop != nullptr && options.stop->load()) {
            summary.stopped = true;
            break;
        }
        report.Progress(options.progress, FileProgress{index, jobs.size(), jobs[index].name});
        report.Record(ConvertOneFile(jobs[index], options.rle, input, output));
    }
    report.Finish();
    return summary;
}
