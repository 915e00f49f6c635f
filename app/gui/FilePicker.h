// The questions the dialog asks through file dialogs: which files or which
// folder to fix, where to, and where to save the log. Behind an interface
// so that tests can answer them without a window.
#pragma once

#include <QString>
#include <QStringList>

class FilePicker {
  public:
    virtual ~FilePicker() = default;

    // Lets the user pick one or more existing files, offering only those
    // that match `filter` (in the "Description (*.ext)" form). A typed name
    // without an extension gets `defaultSuffix`. Answers full paths, all in
    // one folder, or nothing when the user cancels. Opens in `startIn`
    // (the working folder when empty).
    virtual QStringList PickFiles(const QString& filter, const QString& defaultSuffix,
                                  const QString& startIn) = 0;

    // Lets the user pick an existing folder under a window titled `title`,
    // opening in `startIn`. Answers its path, or an empty text when the user
    // cancels.
    virtual QString PickFolder(const QString& title, const QString& startIn) = 0;

    // Lets the user name a file to write under a window titled `title`,
    // offering `suggested` (a full path); replacing an existing file is
    // confirmed first. Answers its path, or an empty text when the user
    // cancels.
    virtual QString PickSaveFile(const QString& title, const QString& filter,
                                 const QString& suggested) = 0;
};
