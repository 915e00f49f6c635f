// The two questions the dialog asks before a batch: which files, and where
// to. Behind an interface so that tests can answer them without the
// system's dialogs. Paths are UTF-8.
#pragma once

#include <windows.h>

#include <string>

class Pickers {
  public:
    virtual ~Pickers() = default;

    // Asks for one or more existing ".tga" files. On success `fileList` holds
    // them in the open dialog's shape: one full path, or a folder followed
    // by bare names, each ended by a NUL, the whole ended by an empty string.
    // Answers false when the user cancels (or the dialog fails).
    virtual bool PickFiles(HWND owner, std::string& fileList) = 0;

    // Asks for an existing folder. Answers false when the user cancels or
    // picks something that has no file-system path.
    virtual bool PickFolder(HWND owner, std::string& folder) = 0;
};

// The system's open dialog (multi-select, filtered to "*.tga") and folder
// picker (titled "Select destination folder", with a box to type a path in),
// which starts in the folder picked last, this run or an earlier one.
class SystemPickers : public Pickers {
  public:
    // Capacity of the open dialog's result, in characters.
    static constexpr DWORD kFileListCapacity = 32768;

    bool PickFiles(HWND owner, std::string& fileList) override;
    bool PickFolder(HWND owner, std::string& folder) override;
};
