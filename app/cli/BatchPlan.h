// Turns the command line's FILE arguments into the calls of ConvertFiles:
// one group per source folder, in argument order, each with its own
// destination folder. The whole plan is made before anything is written,
// so files the run itself writes are never taken as inputs.
#pragma once

#include <string>
#include <vector>

struct BatchGroup {
    std::string fileList;      // in the picker's shape
    std::string sourceFolder;  // where the names are found ("" = current directory)
    std::vector<std::string> names;
    std::string destinationFolder;  // created before the group is converted
};

struct BatchPlan {
    std::vector<BatchGroup> groups;
    std::vector<std::string> problems;  // folders that could not be listed
    std::size_t fileCount = 0;
};

// A FILE that is a folder stands for every ".tga" file in it (extension in
// any case), and with `recursive` every one below it, each group's
// destination being the same relative folder below `outputFolder`. When the
// output folder lies below a source folder, nothing inside it is an input.
// Any other FILE is one input, to be written straight into `outputFolder`;
// consecutive files of one folder share a group. An empty `outputFolder`
// (nothing is written) excludes nothing.
BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outputFolder,
                    bool recursive);

// True for names ending in ".tga" in any mix of cases.
bool HasTGAExtension(const std::string& name);
