#include "app/win32/ConvertFiles.h"

#include "app/win32/FileList.h"
#include "batch/BatchPlan.h"

using namespace Batch;

std::vector<BatchJob> JobsFromFileList(const char* destinationFolder, const char* fileList) {
    const SplitFileListResult split = SplitFileList(fileList);
    std::vector<std::string> paths;
    paths.reserve(split.names.size());
    for (const std::string& name : split.names) {
        paths.push_back(JoinPath(split.folder, name));
    }
    return PlanBatch(paths, destinationFolder != nullptr ? destinationFolder : "", false,
                     FileNaming::ByName)
        .jobs;
}

ConvertSummary ConvertFiles(LogSink& log, const char* destinationFolder, const char* fileList,
                            const ConvertOptions& options) {
    log.Clear();
    return ConvertJobs(log, JobsFromFileList(destinationFolder, fileList), options);
}
