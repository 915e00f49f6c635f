// The destination folders of a batch, each opened once instead of once per
// file, under the link rule (see ReplacementFile.h).
//
// Only a few are held open at a time, the most recently used: a batch into
// many folders stays within the usual limit on open files, and a folder
// dropped from the cache stays open only while a replacement in it still
// needs it. A folder opened again must be the one first opened under that
// path; a different one counts as unknown, and its files are resolved from
// scratch.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Files {

// What the batch's plan learnt of a destination, handed to the file layer
// so that it is not looked at again.
struct KnownDestination {
    // The plan resolved it: its last name is no link, and `exists` says
    // whether a regular file stood there. Otherwise nothing is known.
    bool resolved = false;
    bool exists = false;
    std::string identity;        // of that file (FileIdentity's form), when it exists
    std::string folderIdentity;  // of its folder, empty when that did not exist yet
};

class FolderCache {
  public:
    static constexpr std::size_t kMostFolders = 8;

    struct Folder;  // the system's own; see FileSystemPosix.cpp

    FolderCache() = default;
    FolderCache(const FolderCache&) = delete;
    FolderCache& operator=(const FolderCache&) = delete;

    // The folder `path` (created on the way with `create`), or null with
    // errno (and `failure` where the system's texts would not say) set.
    std::shared_ptr<Folder> Open(const std::string& path, bool create, const char*& failure);

  private:
    std::mutex lock;
    std::vector<std::pair<std::string, std::shared_ptr<Folder>>> held;  // most recent last
    std::unordered_map<std::string, std::string> firstSeen;             // path: identity
};

}  // namespace Files
