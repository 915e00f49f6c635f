// The two questions the dialog asks before a batch: which files, and where
// to. Behind an interface so that tests can answer them without a window.
#pragma once

#include <QString>
#include <QStringList>

class FilePicker {
  public:
    virtual ~FilePicker() = default;

    // Lets the user pick one or more existing files, offering only those
    // that match `filter` (in the "Description (*.ext)" form). A typed name
    // without an extension gets `defaultSuffix`. Answers full paths, all in
    // one folder, or nothing when the user cancels.
    virtual QStringList PickFiles(const QString& filter, const QString& defaultSuffix) = 0;

    // Lets the user pick an existing folder under a window titled `title`.
    // Answers its path, or an empty text when the user cancels.
    virtual QString PickFolder(const QString& title) = 0;
};
