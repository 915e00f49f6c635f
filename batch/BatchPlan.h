// Turns the inputs every front end is given (the command line's FILE
// arguments, the dialogs' picked and dropped paths) into one job list, in
// input order. The whole list is made before anything is written, so files
// the run itself writes are never taken as inputs.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "batch/BatchJob.h"

namespace Batch {

// How the log names a job whose input is a file rather than a folder: as it
// was given (the command line), or by its name alone (the dialogs, whose
// inputs are full paths from a picker).
enum class FileNaming { AsGiven, ByName };

struct BatchPlan {
    std::vector<BatchJob> jobs;
    // Folders that could not be listed, each with the system's reason and
    // its place in the list: it comes after the first `before` jobs.
    struct Problem {
        std::string folder;
        std::string reason;
        std::size_t before = 0;
    };
    std::vector<Problem> problems;
};

// A FILE that is a folder stands for every ".tga" file in it (extension in
// any case), and with `recursive` every one below it: each is shown as its
// path relative to that folder and written under the same relative path
// below `outputFolder`. When the output folder lies below a source folder,
// nothing inside it is an input. Any other FILE is one job, shown as
// `naming` says and written under its own name into `outputFolder`; one that does not
// exist (or is an empty string) is left for the conversion to report. An
// empty `outputFolder` (nothing is written) excludes nothing.
BatchPlan PlanBatch(const std::vector<std::string>& inputs, const std::string& outputFolder,
                    bool recursive, FileNaming naming = FileNaming::AsGiven);

// True for names ending in ".tga" in any mix of cases.
bool HasTGAExtension(const std::string& name);

}  // namespace Batch
