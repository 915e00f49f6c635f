// The few file-system operations the output streams and replacements need,
// kept behind one small interface so that each operating system supplies
// its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/FileHandle.h"
#include "files/FolderCache.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace Files {

// Opens for writing, creating a missing file; empties an existing one when
// `truncate` is set, else keeps it. New bytes go after what the file holds.
FileHandle OpenForWriting(const char* name, bool truncate);

// Writes up to n bytes; answers how many reached the file, or -1 when the
// system refused. Interrupted calls are retried here.
std::int64_t WriteSome(FileHandle file, const std::uint8_t* data, std::size_t n);

// Writes up to the blocks' bytes in order, in one call where the system
// has one (writev); answers how many reached the file, or -1 when the
// system refused. Interrupted calls are retried here.
struct WriteBlock {
    const std::uint8_t* data;
    std::size_t size;
};
std::int64_t WriteSomeGathered(FileHandle file, const WriteBlock* blocks, std::size_t count);

// Forces the file's content to stable storage.
bool SyncFile(FileHandle file);
bool CloseFile(FileHandle file);

// Failures of a replacement that the system's own texts would not explain.
inline constexpr const char* kUntrustedLinkText =
    "Not following a link that another user placed in a shared folder";
inline constexpr const char* kUnableToRenameText = "Unable to move the new file into place";
inline constexpr const char* kDanglingLinkText = "Not writing through a link that leads to no file";
inline constexpr const char* kHeldElsewhereText = "The file is held by another program";
// Why an input that opened could not be read, the system reporting no error.
inline constexpr const char* kNotRegularFileText = "Not a regular file";
inline constexpr const char* kEmptyFileText = "Empty file";

// What to do when a file stands at a replacement's name, or appears there
// while the new file is written: replace it (an existing file's way: on
// disk first, its metadata kept) or leave it alone.
enum class IfNameTaken { Replace, Keep };

// What one replacement holds while it is made and committed; its rules
// are told in ReplacementFile.h, which is the way to use it.
struct Replacement {
    std::string target;     // the path that will be replaced, links resolved
    std::string temporary;  // the hidden file's name, empty while it has none
    FileHandle file = kInvalidFileHandle;
    // Whether a file stood at the target when the replacement was made.
    bool replacesExisting = true;
    // Whether the file waits for a group to be made durable and put in
    // place; otherwise FinishReplacement does that for it at once.
    bool waitsForGroup = false;
    // What the old file had that the new one could not keep ("owner, ACL").
    std::string notKept;
    // Why the last step failed, when the system's texts would not say.
    const char* failure = nullptr;
    // Why creating it failed, in words no error number carries (a folder on
    // the way that could not be made, on Windows); used when not empty.
    std::string whyNot;
    IfNameTaken ifTaken = IfNameTaken::Replace;
    // A file held the name, or took it before the new one was put in place,
    // and `ifTaken` said to keep it: the replacement failed for that alone.
    bool nameTaken = false;
    std::uint64_t size = 0;  // bytes written, known once finished
    // The old file is the source's own descriptor, lent by the input that
    // reads it (a file repaired in place): it is the input's to close.
    bool originalLent = false;
#ifndef _WIN32
    int folder = -1;  // the target's folder, held open
    // The cache's entry for the folder, which keeps it open, when it came
    // from a FolderCache; otherwise `folder` is the replacement's own.
    std::shared_ptr<FolderCache::Folder> cached;
    struct stat folderInfo {};  // device and inode of the folder
    std::string name;           // the target's name in it
    int original = -1;          // the file being replaced, until its metadata is kept
    struct stat originalInfo {};
    bool originalFindOnly = false;  // opened only to find it (O_PATH)
    bool anonymous = false;
#endif
};

// With `createFolders`, the folders missing on the way to the target are
// made, under the link rule like the rest of the way. With `known` and
// `folders`, what the plan learnt stands for looking again: the folder
// comes from the cache, and the name is not looked at where the plan found
// nothing; where the two disagree with what is found, the target is
// resolved as without them.
//
// With `source`, the input that reads the file being replaced (a file
// repaired in place) lends its descriptor as the old file, when it was
// opened as the plan found the target; it must stay open until the
// replacement is finished or discarded.
struct OpenedInput;
bool CreateReplacement(const char* target, Replacement& replacement,
                       IfNameTaken ifTaken = IfNameTaken::Replace, bool createFolders = false,
                       const KnownDestination* known = nullptr, FolderCache* folders = nullptr,
                       const OpenedInput* source = nullptr);

// The file is complete, `size` bytes long: gives it what the old file had,
// then, unless it waits for a group, moves it into place (first forcing it
// to disk when it replaces an existing file).
bool FinishReplacement(Replacement& replacement, std::uint64_t size);

// The steps of committing finished replacements together: one flush of
// every file system they are on (each file on its own where the system has
// no such flush, or when there is only one), then each put in place, then
// each folder where an existing file was replaced flushed once. `ok` holds
// one flag per replacement; steps skip the ones that failed.
void SyncReplacements(const std::vector<Replacement*>& replacements, std::vector<bool>& ok);
bool PutInPlace(Replacement& replacement);
void SyncFolders(const std::vector<Replacement*>& replacements);

// Releases what the replacement holds and removes its temporary file.
void DiscardReplacement(Replacement& replacement) noexcept;

void RemoveFile(const std::string& path);

// The link rule for a name found in `folder`: true when it is no link, or a
// link that may be followed (see ReplacementFile.h). A name that cannot be looked
// at counts as followed; opening it then says why.
bool FollowsLink(const std::string& folder, const std::string& name);

// An input opened for reading without side effects: a device, FIFO or
// socket is refused before it is opened, and the reason is decided on the
// file that was opened, never by a second look at the path.
//
// With `known` and `folders`, a source that is the very file the batch's
// plan found at its destination (one repaired in place) is opened through
// that folder, from the cache, without effects (no link followed, no wait,
// no terminal taken), and must be the regular file the plan saw; otherwise
// it is opened as without them.
struct OpenedInput {
    FileHandle file = kInvalidFileHandle;
    std::uint64_t size = 0;
    std::string whyNot;  // empty when `file` is open
    // Opened as the plan found it: a replacement of it may share `file`.
    bool asPlanned = false;
#ifndef _WIN32
    struct stat info {};  // the opened file, when `asPlanned`
#endif
};
OpenedInput OpenInput(const char* path, const KnownDestination* known = nullptr,
                      FolderCache* folders = nullptr);

}  // namespace Files
