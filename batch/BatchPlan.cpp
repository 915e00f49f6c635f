#include "batch/BatchPlan.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "batch/CanonicalPath.h"
#include "batch/JoinPath.h"
#include "files/FileSystem.h"
#include "files/FolderEntries.h"
#include "files/SystemPath.h"

namespace Batch {

namespace fs = std::filesystem;

namespace {

// The last part of a path as the user wrote it, trailing separators aside:
// "in/a.tga" gives "a.tga", "nosuchdir/" gives "nosuchdir".
std::string LastPart(const std::string& path) {
    fs::path p = Files::SystemPath(path);
    while (!p.empty() && p.filename().empty() && p.has_relative_path()) {
        p = p.parent_path();
    }
    return Files::PathText(p.filename());
}

struct FolderWalk {
    BatchPlan& plan;
    std::string outputCanonical;
    std::string outputFolder;
    bool recursive;

    void Visit(const std::string& folder, const std::string& relative, bool isRoot) {
        if (!isRoot && !outputFolder.empty() &&
            CanonicalPath(Files::SystemPath(folder)) == outputCanonical) {
            return;  // the run's own output, when it lies below a source folder
        }
        std::vector<std::pair<std::string, bool>> names;  // and whether it is a link
        std::vector<std::string> subfolders;
        std::vector<Files::FolderEntry> entries;
        std::string reason;
        if (!Files::ListFolder(folder, entries, reason)) {
            plan.problems.push_back({folder, reason, plan.jobs.size()});
            return;
        }
        using Type = Files::FolderEntry::Type;
        for (Files::FolderEntry& entry : entries) {
            if (entry.type == Type::Folder) {
                // Links to folders are not followed, so a loop of links
                // cannot make the walk endless.
                if (recursive && !entry.link) {
                    subfolders.push_back(std::move(entry.name));
                }
            } else if (HasTGAExtension(entry.name) &&
                       (entry.type == Type::File || entry.type == Type::Unknown)) {
                // One that cannot be looked at is left for the conversion,
                // which says why it cannot be opened.
                names.push_back({std::move(entry.name), entry.link});
            } else if (entry.type == Type::Unknown && recursive && !entry.link) {
                // Perhaps a folder that cannot be entered: never skipped
                // without a word.
                plan.problems.push_back(
                    {JoinPath(folder, entry.name), entry.reason, plan.jobs.size()});
            }
        }
        std::sort(names.begin(), names.end());
        std::sort(subfolders.begin(), subfolders.end());
        for (const auto& [name, link] : names) {
            const std::string shown = JoinPath(relative, name);
            const bool refused = link && !Files::FollowsLink(folder, name);
            plan.jobs.push_back({JoinPath(folder, name), shown, JoinPath(outputFolder, shown),
                                 refused ? Files::kUntrustedLinkText : nullptr});
        }
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
                    bool recursive, FileNaming naming) {
    BatchPlan plan;
    FolderWalk walk{plan, CanonicalPath(Files::SystemPath(outputFolder)), outputFolder, recursive};
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!input.empty() && fs::is_directory(Files::SystemPath(input), error)) {
            walk.Visit(input, "", true);
        } else {
            const std::string name = LastPart(input);
            plan.jobs.push_back(
                {input, naming == FileNaming::ByName ? name : input, JoinPath(outputFolder, name)});
        }
    }
    return plan;
}

}  // namespace Batch
