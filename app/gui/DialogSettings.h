// What the dialog remembers from one run to the next: the destination
// folder and the folder the last files or folder were picked in. Kept with
// QSettings under the user's configuration folder (tessary/tessary.conf).
#pragma once

#include <QSettings>
#include <QString>

class DialogSettings {
  public:
    DialogSettings();

    // Empty until a destination has been chosen or typed.
    QString Destination() const;
    void SetDestination(const QString& folder);

    // Where the pickers of sources open; empty at first (the working folder).
    QString SourceFolder() const;
    void SetSourceFolder(const QString& folder);

  private:
    QSettings settings_;
};
