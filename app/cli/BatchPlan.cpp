#include "app/cli/BatchPlan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/FileList.h"

namespace fs = std::filesystem;

namespace {

// One spelling for a folder, whether or not it exists yet.
fs::path Canonical(const fs::path& path) {
    std::error_code error;
    fs::path canonical = fs::weakly_canonical(path.empty() ? fs::path(".") : path, error);
    return error ? path.lexically_normal() : canonical;
}

void AddGroup(BatchPlan& plan, std::string sourceFolder, std::vector<std::string> names,
              std::string destinationFolder) {
    if (names.empty()) {
        return;
    }
    BatchGroup group;
    if (names.size() == 1) {
        group.fileList = MakeFileList(JoinPath(sourceFolder, names.front()));
    } else {
        // An empty first string would end the list at once.
        group.fileList = MakeFileList(sourceFolder.empty() ? "." : sourceFolder, names);
    }
    group.sourceFolder = std::move(sourceFolder);
    group.names = std::move(names);
    group.destinationFolder = std::move(destinationFolder);
    plan.fileCount += group.names.size();
    plan.groups.push_back(std::move(group));
}

struct FolderWalk {
    BatchPlan& plan;
    fs::path outputCanonical;
    std::string outputFolder;
    bool recursive;

    void Visit(const std::string& folder, const std::string& relative, bool isRoot) {
        if (!isRoot && !outputFolder.empty() && Canonical(folder) == outputCanonical) {
            return;  // the run's own output, when it lies below a source folder
        }
        std::vector<std::string> names;
        std::vector<std::string> subfolders;
        std::error_code error;
        fs::directory_iterator entries(folder.empty() ? fs::path(".") : fs::path(folder), error);
        for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
            const fs::directory_entry& entry = *entries;
            const std::string name = entry.path().filename().string();
            std::error_code statusError;
            if (entry.is_directory(statusError)) {
                // Links to folders are not followed, so a loop of links
                // cannot make the walk endless.
                if (recursive && !entry.is_symlink(statusError)) {
                    subfolders.push_back(name);
                }
            } else if (HasTGAExtension(name) && entry.is_regular_file(statusError)) {
                names.push_back(name);
            }
        }
        if (error) {
            plan.problems.push_back(folder + ": " + error.message());
            return;
        }
        std::sort(names.begin(), names.end());
        std::sort(subfolders.begin(), subfolders.end());
        AddGroup(plan, folder, std::move(names), JoinPath(outputFolder, relative));
        for (const std::string& sub : subfolders) {
            Visit(JoinPath(folder, sub), JoinPath(relative, sub), false);
        }
    }
};

}  // namespace

bool HasTGAExtension(const std::string& name) {
    if (name.size() < 5) {  // a name of its own before the extension
        return false;
    }
    std::string extension = name.substr(name.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return extension == ".tga";
}

BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outputFolder,
                    bool recursive) {
    BatchPlan plan;
    FolderWalk walk{plan, Canonical(outputFolder), outputFolder, recursive};
    std::string pendingFolder;
    std::vector<std::string> pendingNames;
    const auto flushFiles = [&] {
        AddGroup(plan, pendingFolder, std::move(pendingNames), outputFolder);
        pendingNames.clear();
    };

    for (const std::string& input : inputs) {
        std::error_code error;
        if (fs::is_directory(input, error)) {
            flushFiles();
            walk.Visit(input, "", true);
            continue;
        }
        // Not a folder: one file, found however it is named; one that does
        // not exist is left for the conversion to report.
        SplitFileListResult split = SplitFileList(MakeFileList(input).c_str());
        if (split.names.empty()) {
            split.names.push_back(input);  // "dir/" that is no folder
            split.folder.clear();
        }
        if (!pendingNames.empty() && split.folder != pendingFolder) {
            flushFiles();
        }
        pendingFolder = split.folder;
        pendingNames.push_back(split.names.front());
    }
    flushFiles();
    return plan;
}
