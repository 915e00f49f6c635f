// The destination paths that files of one run have been given, so that two
// inputs with the same name (a/x.tga and b/x.tga into one folder) never
// write over each other: the later one is refused.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace Batch {

class DestinationClaims {
  public:
    // Takes the file that `name` in `folder` leads to. Answers false when an
    // earlier file of the run already holds it. Different spellings of one
    // folder (relative, through "..", through a symbolic link) count as one,
    // and so do two names of one file (a symbolic or hard link to it).
    bool Claim(std::string_view folder, std::string_view name);

  private:
    std::set<std::string> claimed;
};

}  // namespace Batch
