// Files a batch would write over, found before anything is written, so that
// a dialog can ask once about all of them.
#pragma once

#include <cstddef>

#include "batch/BatchPlan.h"

namespace Batch {

struct Replacements {
    std::size_t count = 0;      // destinations that exist already
    std::size_t originals = 0;  // of those, the source files themselves
};

// Each destination counts once, however many files of the plan name it and
// by whatever name (a link, letter case where the system ignores it). A
// folder in the way is no file to replace; its job fails.
Replacements FindReplacements(const BatchPlan& plan);

}  // namespace Batch
