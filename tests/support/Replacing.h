// A replacement and the stream that writes its new file, paired as the
// batch pairs them.
#pragma once

#include "files/ReplacementFile.h"
#include "gfxstream/FileOutputStream.h"

struct Replacing {
    Files::ReplacementFile file;
    GFXStream::FileOutputStream out;  // lets go of the file before it goes

    bool Open(const char* target, Files::IfNameTaken ifTaken = Files::IfNameTaken::Replace) {
        return file.Open(target, ifTaken) && out.Attach(file.Handle());
    }
    void Commit() {
        out.Close();
        file.Commit();
    }
    void Discard() noexcept {
        out.Discard();
        file.Discard();
    }
};
