// What each job of a batch may write, decided once for the whole list
// before anything is written, and shared by the run and the dry run.
//
// Every destination is resolved once (links followed, each folder looked at
// once per batch) to the file it leads to. Then:
// - a destination the file layer would refuse before the source is read (a
//   folder stands there, a folder on the way is a file, cannot be created
//   or written) fails its job with that reason, in a dry run too;
// - a destination that is also an input of the batch is written only by
//   the job that repairs that file in place (through any of its names);
//   every other job mapping onto it writes nothing;
// - of the jobs left that lead to one file, the first converts; each later
//   one is decided in the in-order step, once the outcome of every job
//   before it is known (see EmitFinished): it converts when nothing was
//   written to that file, is the same file as the one written there (a link
//   and its target, two hard links), or fails with the clash text.
#pragma once

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

#include "batch/BatchJob.h"
#include "files/FolderCache.h"

namespace Batch {

struct PlannedDestination {
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

    // The first job of the list that leads to the same file; this job's own
    // index when it is that first one. Jobs after it wait for its outcome.
    std::size_t claim = kNone;
    // An earlier job leads to the same file: this one waits for the
    // in-order step's decision.
    bool waits = false;
    // The destination cannot be written: the reason, as the system says it.
    std::string unwritable;
    // The destination is read by another job of the batch.
    bool readByOther = false;
    // Something stands at the destination.
    bool exists = false;
    // The source's identity, where its destination is shared or exists:
    // two names of one file have the same.
    std::string source;
    // What was found there, handed to the file layer so that it does not
    // look again.
    Files::KnownDestination known;
};

std::vector<PlannedDestination> PlanDestinations(const std::vector<BatchJob>& jobs);

// Failures the plan decides. After "->destination...Error: ".
inline constexpr const char* kDestinationTakenText =
    "Another file of this batch was already written to this name";
inline constexpr const char* kDestinationReadText =
    "Another file of this batch is read from this name";
// After "->destination...Done (", then the name of the job that wrote it.
inline constexpr const char* kSameFileText = "same file as";

}  // namespace Batch
