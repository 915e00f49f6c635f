// One file of a batch: where it is read, how the log names it and where it
// is written. Whoever builds the list decides all three, so the batch needs
// no knowledge of folders, pickers or command lines.
#pragma once

#include <string>

namespace Batch {

struct BatchJob {
    std::string source;       // the file to read
    std::string shownName;    // the file as the user gave it (see ShownName.h)
    std::string destination;  // the file to write, logged as it stands
    // Why the plan will not read `source` (a link it may not follow), or
    // null: the job then fails with this reason and touches nothing.
    const char* refused = nullptr;
};

}  // namespace Batch
