#include "app/win32/ConvertFiles.h"

#include "app/win32/FileList.h"

using namespace Batch;

std::vector<BatchJob> JobsFromFileList(const char* destinationFolder, const char* fileList) {
    const std::string_view destination = destinationFolder != nullptr ? destinationFolder : "";
    SplitFileListResult split = SplitFileList(fileList);
    std::vector<BatchJob> jobs;
    jobs.reserve(split.names.size());
    for (std::string& name : split.names) {
        BatchJob job;
        job.source = JoinPath(split.folder, name);
        job.destination = JoinPath(destination, name);
        job.shownName = std::move(name);
        jobs.push_back(std::move(job));
    }
    return jobs;
}

ConvertSummary ConvertFiles(LogSink& log, const char* destinationFolder, const char* fileList,
                            const ConvertOptions& options) {
    log.Clear();
    return ConvertJobs(log, JobsFromFileList(destinationFolder, fileList), options);
}
