// Safe replacement of one file: a new file is written beside the target and
// then moved over it in one step, so a reader (or a crash) sees the old file
// or the new one, never a mixture.
//
// The new file is a new file: other hard links to the target keep the old
// content. Where the file system allows it, it is anonymous until it is
// complete (nothing is left behind if the process dies); otherwise it is a
// hidden file of the target's folder, ".<name>.tessary-<16 hex digits>.tmp",
// locked until it is renamed. A later run that writes into that folder
// removes such a file if this one dies: only a name of exactly that form,
// a regular file with one link, owned by the running user and locked by no
// live run. While a replacement is written it is open
// to the owner alone; the target's mode, owner, group, ACL and extended
// attributes are given to it only once it is complete.
//
// A new name is taken in one step that fails if the name appeared
// meanwhile; that file is then treated as existing (see IfNameTaken).
//
// The link rule: a symbolic link on the way to the target (a folder or the
// last name) is followed, so that the link stays and the file it leads to
// is replaced, unless it lies in a folder that a user other than the
// running one may write (see OthersMayWrite) and belongs to someone other
// than the running user or root: that replacement fails with
// kUntrustedLinkText. A link that leads to no file is never written
// through (kDanglingLinkText).
//
// The content is written to Handle() by the caller (an output stream
// attached to it), which finishes its writing before Commit or Finish.
// Dropped or discarded without either, the new file is removed, so a failed
// conversion never touches the existing file.
#pragma once

#include <cstdint>
#include <string>

#include "files/FileHandle.h"
#include "files/FileSystem.h"
#include "files/ReplacementGroup.h"

namespace Files {

class ReplacementFile {
  public:
    ReplacementFile() = default;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    // Creates the new file beside `target`. With `createFolders`, the
    // folders missing on the way are made. With `known` and `folders`, what
    // a batch's plan learnt of the target is not looked at again, and its
    // folder is opened once for the batch (see FolderCache). With `source`,
    // the input reading the target (a file repaired in place) may lend its
    // descriptor as the old file (see CreateReplacement).
    bool Open(const char* target, IfNameTaken ifTaken = IfNameTaken::Replace,
              bool createFolders = false, const KnownDestination* known = nullptr,
              FolderCache* folders = nullptr, const OpenedInput* source = nullptr);
    bool IsOpen() const { return open; }
    // The source lent its descriptor: it stays open until Finish or Discard.
    bool SharesSource() const { return open && replacement.originalLent; }
    // Where the new content goes; it stays the replacement's own.
    FileHandle Handle() const { return replacement.file; }
    // Why the last Open failed, when the system's texts would not say (a
    // link that is not followed); null otherwise.
    const char* FailureText() const { return failure.empty() ? nullptr : failure.c_str(); }
    // The last Open, Commit or Finish failed only because a file held the
    // name, or took it meanwhile, and was to be kept.
    bool NameTaken() const { return nameTaken; }
    // Forces the content to disk, closes and moves the new file into place.
    // Raises "Unable to write to file" (or the text of a failed move) when
    // any step fails; the target then keeps its content.
    void Commit();
    // Hands over the complete replacement, `size` bytes long, giving it
    // what the old file had, to be committed with others in a
    // ReplacementGroup. Raises as Commit does.
    FinishedReplacement Finish(std::uint64_t size);
    // Removes a new file not handed over or committed, also after a failed
    // Commit or Finish. Never raises.
    void Discard() noexcept;

  private:
    Replacement replacement;
    bool open = false;
    std::string failure;
    bool nameTaken = false;
};

}  // namespace Files
