// The few file-system operations the output stream needs, kept behind one
// small interface so that each operating system supplies its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "gfxstream/FileHandle.h"

namespace GFXStream::FileSystem {

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

// Safe replacement. Creates a fresh, exclusive temporary file in the folder
// of `target`, named so that no listing takes it for an image and a person
// can tell what left it. A symbolic link is followed, so that the link's
// target is what gets replaced. An existing target must be a regular file
// the caller may write; its permission bits (and, where allowed, owner) are
// given to the temporary file.
struct Replacement {
    std::string target;     // the path that will be replaced, links resolved
    std::string temporary;  // the temporary file beside it
    FileHandle file = kInvalidFileHandle;
    // Whether a file stood at the target when the replacement was made. Only
    // then must the new content be on disk before the rename: a crash can
    // otherwise cost nothing that existed. Forcing every new file to disk
    // made a batch of small files wait on the device for each of them.
    bool replacesExisting = true;
};
bool CreateReplacement(const char* target, Replacement& replacement);

// Moves the temporary file over the target in one step.
bool CommitReplacement(const Replacement& replacement);

void RemoveFile(const std::string& path);

}  // namespace GFXStream::FileSystem
