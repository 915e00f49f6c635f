// --base: each file is written under its path below a base folder instead of
// under its bare name, as `cp --parents` and `rsync --relative` keep paths,
// so that a list of names from all over a tree (one share of a run spread
// over several machines, say) keeps the tree below the destination.
#pragma once

#include <string>
#include <vector>

#include "batch/BatchJob.h"

// The path of `source` below `base`, judged on the names alone (links are
// not resolved): "assets/b/x.tga" below "assets" is "b/x.tga". Empty when
// `source` does not lie below `base` ("../x.tga", an absolute path below a
// relative base, the base itself).
std::string PathBelow(const std::string& source, const std::string& base);

// Gives every job the destination `outputFolder` / its path below `base`.
// Answers false, with the first source outside the base in `outside`, and
// changes nothing when any job's source does not lie below it.
bool KeepPathsBelow(std::vector<Batch::BatchJob>& jobs, const std::string& base,
                    const std::string& outputFolder, std::string& outside);
