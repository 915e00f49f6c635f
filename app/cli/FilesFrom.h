// The inputs of --files-from: names one to a line, or ended by NUL bytes
// (what `find -print0` writes), so that any name, a line break in it
// included, and any number of names can be given. Empty entries (the line
// break after the last name, say) are left out.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Appends the names `stream` holds to `names`. Answers false, with the
// system's reason in `error`, when the stream cannot be read to its end.
bool ReadFileNames(std::FILE* stream, bool nulSeparated, std::vector<std::string>& names,
                   std::string& error);
