#include "app/gui/InputSort.h"

#include <sys/stat.h>

#include <cerrno>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include "batch/BatchPlan.h"
#include "batch/ShownName.h"

namespace {

// Names shown in the left-out line before "and N more".
constexpr qsizetype kLeftOutNamesShown = 5;

QString Tr(const char* text) {
    return QCoreApplication::translate("InputSort", text);
}

// As the batch shows names: a control character in one cannot break its line.
QString Shown(const QString& name) {
    return QFile::decodeName(Batch::ShownName(QFile::encodeName(name).toStdString()).c_str());
}

void Sort(SortedInputs& sorted, const QString& path) {
    const QFileInfo info(path);
    const QString full = info.absoluteFilePath();
    struct stat status {};
    if (::lstat(QFile::encodeName(full).constData(), &status) != 0) {
        sorted.reasons.push_back(qt_error_string(errno));
        sorted.inputs.push_back(full);
        sorted.missing.push_back(full);
    } else if (info.isDir() ||
               Batch::HasTGAExtension(QFile::encodeName(info.fileName()).toStdString())) {
        sorted.inputs.push_back(full);
    } else {
        sorted.leftOut.push_back(Shown(info.fileName()));
    }
}

}  // namespace

SortedInputs SortInputs(const QStringList& paths) {
    SortedInputs sorted;
    for (const QString& path : paths) {
        Sort(sorted, path);
    }
    return sorted;
}

SortedInputs SortDropped(const QList<QUrl>& urls) {
    SortedInputs sorted;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            Sort(sorted, url.toLocalFile());
        } else {
            sorted.leftOut.push_back(Shown(url.toDisplayString()));
        }
    }
    return sorted;
}

QString LeftOutText(const QStringList& leftOut) {
    if (leftOut.isEmpty()) {
        return {};
    }
    QString names = leftOut.mid(0, kLeftOutNamesShown).join(QStringLiteral(", "));
    if (leftOut.size() > kLeftOutNamesShown) {
        names += Tr(" and %1 more").arg(leftOut.size() - kLeftOutNamesShown);
    }
    const QString why =
        leftOut.size() == 1
            ? Tr("Left out 1 item, neither a .tga file nor a folder on this computer: %1\n")
            : Tr("Left out %1 items, neither .tga files nor folders on this computer: %2\n")
                  .arg(leftOut.size());
    return why.arg(names);
}

QString MissingText(const QString& path, const QString& reason) {
    return Tr("%1: %2\n").arg(Shown(path), reason);
}
