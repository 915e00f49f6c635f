#include "batch/Replacements.h"

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "files/FileIdentity.h"
#include "files/SystemPath.h"

namespace Batch {

Replacements FindReplacements(const BatchPlan& plan) {
    Replacements found;
    std::set<std::string> seen;
    for (const BatchJob& job : plan.jobs) {
        const std::string existing = Files::FileIdentity(job.destination);
        std::error_code error;
        if (existing.empty() ||
            std::filesystem::is_directory(Files::SystemPath(job.destination), error) ||
            !seen.insert(existing).second) {
            continue;
        }
        ++found.count;
        if (Files::FileIdentity(job.source) == existing) {
            ++found.originals;
        }
    }
    return found;
}

}  // namespace Batch
