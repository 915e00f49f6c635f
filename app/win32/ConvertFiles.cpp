#include "app/win32/ConvertFiles.h"

#include <filesystem>
#include <system_error>

#include "app/win32/FileList.h"
#include "batch/BatchPlan.h"
#include "files/SystemPath.h"

namespace {

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(Files::SystemPath(path), error);
}

}  // namespace

std::vector<Batch::BatchJob> JobsFromFileList(const char* destinationFolder, const char* fileList) {
    const SplitFileListResult split = SplitFileList(fileList);
    std::vector<std::string> paths;
    paths.reserve(split.names.size());
    for (const std::string& name : split.names) {
        paths.push_back(Batch::JoinPath(split.folder, name));
    }
    return Batch::PlanBatch(paths, destinationFolder != nullptr ? destinationFolder : "", false,
                            Batch::FileNaming::ByName)
        .jobs;
}

Batch::ConvertSummary ConvertFiles(Batch::LogSink& log, const char* destinationFolder,
                                   const char* fileList, const Batch::ConvertOptions& options) {
    log.Clear();
    return Batch::ConvertJobs(log, JobsFromFileList(destinationFolder, fileList), options);
}

std::vector<std::string> InputsFromFileList(const char* fileList) {
    const SplitFileListResult split = SplitFileList(fileList);
    std::vector<std::string> inputs;
    for (const std::string& name : split.names) {
        inputs.push_back(Batch::JoinPath(split.folder, name));
    }
    return inputs;
}

Batch::BatchPlan PlanInputs(const std::vector<std::string>& inputs,
                            const std::string& destination) {
    return Batch::PlanBatch(inputs, destination, true, Batch::FileNaming::ByName);
}

std::vector<std::string> UsableInputs(const std::vector<std::string>& paths) {
    std::vector<std::string> usable;
    for (const std::string& path : paths) {
        if (IsFolder(path) ||
            Batch::HasTGAExtension(Files::PathText(Files::SystemPath(path).filename()))) {
            usable.push_back(path);
        }
    }
    return usable;
}
