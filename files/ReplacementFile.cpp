#include "files/ReplacementFile.h"

#include "gfxstream/Exception.h"
#include "gfxstream/OutputStream.h"

namespace Files {

ReplacementFile::~ReplacementFile() {
    Discard();
}

bool ReplacementFile::Open(const char* target, IfNameTaken ifTaken, bool createFolders,
                           const KnownDestination* known, FolderCache* folders,
                           const OpenedInput* source) {
    if (open) {
        return false;
    }
    Replacement created;
    failure.clear();
    nameTaken = false;
    if (!CreateReplacement(target, created, ifTaken, createFolders, known, folders, source)) {
        failure = created.failure != nullptr ? created.failure : created.whyNot;
        nameTaken = created.nameTaken;
        return false;
    }
    replacement = std::move(created);
    open = true;
    return true;
}

void ReplacementFile::Commit() {
    ReplacementGroup alone;
    alone.Add(Finish(0));  // alone, its size bounds nothing
    const char* const failed = alone.Commit().front();
    if (failed != nullptr) {
        throw GFXStream::Exception(failed);
    }
}

FinishedReplacement ReplacementFile::Finish(std::uint64_t size) {
    if (!open) {
        throw GFXStream::Exception(GFXStream::kUnableToWriteText);
    }
    if (!FinishReplacement(replacement, size)) {
        // Kept until discarded, so that the system's error still stands
        // when the caller asks for it.
        nameTaken = replacement.nameTaken;
        throw GFXStream::Exception(replacement.failure != nullptr ? replacement.failure
                                                                  : GFXStream::kUnableToWriteText);
    }
    FinishedReplacement finished(std::move(replacement));
    replacement = {};
    open = false;
    return finished;
}

void ReplacementFile::Discard() noexcept {
    if (open) {
        DiscardReplacement(replacement);
        replacement = {};
        open = false;
    }
}

}  // namespace Files
