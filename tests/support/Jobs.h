// A job list for the batch tests: each name in `folder` written under itself
// into `outputFolder` and logged as the bare name.
#pragma once

#include <string>
#include <vector>

#include "batch/BatchJob.h"

inline std::vector<Batch::BatchJob> JobsFor(const std::string& folder,
                                            const std::vector<std::string>& names,
                                            const std::string& outputFolder) {
    std::vector<Batch::BatchJob> jobs;
    for (const std::string& name : names) {
        jobs.push_back({folder + "/" + name, name, outputFolder + "/" + name});
    }
    return jobs;
}
