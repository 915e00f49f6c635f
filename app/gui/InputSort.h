// What the dialog takes from paths named on its command line or dropped
// onto it, by one rule for both: a folder, or a file whose name ends in
// ".tga" (in any case). A path that names nothing is kept, to fail in the
// batch with the system's reason, but reported before anything is asked.
// Everything else (other files, addresses of other computers) is left out,
// and said so in one line.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

struct SortedInputs {
    QStringList inputs;   // full paths to plan, in the order given
    QStringList missing;  // of those, the ones that name nothing, each with
    QStringList reasons;  // the system's reason
    QStringList leftOut;  // names of what is neither a folder nor a .tga file
};

SortedInputs SortInputs(const QStringList& paths);
SortedInputs SortDropped(const QList<QUrl>& urls);

// The log's one line for what was left out: how many, why, and the first
// few names. Empty when nothing was.
QString LeftOutText(const QStringList& leftOut);
// The log's line for a path that names nothing, and the system's reason.
QString MissingText(const QString& path, const QString& reason);
