#include "app/win32/ConvertFiles.h"

#include <filesystem>
#include <system_error>

#include "app/win32/FileList.h"
#include "batch/BatchPlan.h"
#include "files/SystemPath.h"

using Batch::BatchJob;
using Batch::BatchPlan;
using Batch::ConvertJobs;
using Batch::ConvertOptions;
using Batch::ConvertSummary;
using Batch::FileNaming;
using Batch::HasTGAExtension;
using Batch::JoinPath;
using Batch::LogSink;
using Batch::PlanBatch;

namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(Files::SystemPath(path), error);
}

}  // namespace

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

std::vector<std::string> InputsFromFileList(const char* fileList) {
    const SplitFileListResult split = SplitFileList(fileList);
    std::vector<std::string> inputs;
    for (const std::string& name : split.names) {
        inputs.push_back(JoinPath(split.folder, name));
    }
    return inputs;
}

BatchPlan PlanInputs(const std::vector<std::string>& inputs, const std::string& destination) {
    return PlanBatch(inputs, destination, true, FileNaming::ByName);
}

std::vector<std::string> UsableInputs(const std::vector<std::string>& paths) {
    std::vector<std::string> usable;
    for (const std::string& path : paths) {
        if (IsFolder(path) ||
            HasTGAExtension(Files::PathText(Files::SystemPath(path).filename()))) {
            usable.push_back(path);
        }
    }
    return usable;
}
