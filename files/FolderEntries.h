// What a folder holds, as the batch needs to know it to walk a tree: each
// entry's name and whether it is a file, a folder or a link. The listing
// itself is the system's business: on Windows the runtime's own listing cuts
// names short past the classic path limit, so the wide calls are used there.
#pragma once

#include <string>
#include <vector>

namespace Files {

struct FolderEntry {
    enum class Type { File, Folder, Other, Unknown };

    std::string name;  // the bare name, as the system's text (UTF-8 on Windows)
    Type type = Type::Unknown;
    bool link = false;   // a symbolic link (or junction), leading to `type`
    std::string reason;  // for Unknown: why the system would not say
};

// Lists `folder` ("" is the current one) without "." and "..", in the
// system's order. Answers false, with the system's reason, when the folder
// cannot be read.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries, std::string& reason);

}  // namespace Files
