// Paths built from a folder and a name, with the system's separator.
#pragma once

#include <string>
#include <string_view>

namespace Batch {

// Joins a folder and a name with one "/" between them; an empty folder gives
// the name alone, and a folder already ending in "/" gets none added.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace Batch
