#include "app/cli/BaseFolder.h"

#include <filesystem>

#include "batch/JoinPath.h"

namespace fs = std::filesystem;

std::string PathBelow(const std::string& source, const std::string& base) {
    fs::path folder = fs::path(base.empty() ? "." : base).lexically_normal();
    if (!folder.has_filename() && folder.has_relative_path()) {
        folder = folder.parent_path();  // "assets/" is "assets"
    }
    const fs::path below = fs::path(source).lexically_normal().lexically_relative(folder);
    if (below.empty() || below == "." || !below.has_filename()) {
        return {};
    }
    for (const fs::path& part : below) {
        if (part == "..") {
            return {};
        }
    }
    return below.string();
}

bool KeepPathsBelow(std::vector<Batch::BatchJob>& jobs, const std::string& base,
                    const std::string& outputFolder, std::string& outside) {
    std::vector<std::string> destinations;
    destinations.reserve(jobs.size());
    for (const Batch::BatchJob& job : jobs) {
        const std::string below = PathBelow(job.source, base);
        if (below.empty()) {
            outside = job.source;
            return false;
        }
        destinations.push_back(Batch::JoinPath(outputFolder, below));
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        jobs[i].destination = std::move(destinations[i]);
    }
    return true;
}
