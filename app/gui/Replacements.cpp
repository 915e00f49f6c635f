#include "app/gui/Replacements.h"

#include <QDir>
#include <QMessageBox>
#include <QPushButton>

namespace {

QString Files(std::size_t count) {
    return count == 1 ? QObject::tr("1 file") : QObject::tr("%1 files").arg(count);
}

}  // namespace

ReplaceAnswer AskToReplace(QWidget* parent, const Batch::Replacements& replacements,
                           const QString& destination) {
    QMessageBox box(QMessageBox::Warning, parent->windowTitle(),
                    QObject::tr("%1 in %2 will be replaced.")
                        .arg(Files(replacements.count), QDir::toNativeSeparators(destination)),
                    QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("replaceQuestion"));
    if (replacements.originals == replacements.count) {
        box.setInformativeText(
            QObject::tr("They are the originals: each is repaired in place, and its present "
                        "contents are lost."));
    } else if (replacements.originals == 1) {
        box.setInformativeText(
            QObject::tr("One of them is an original, repaired in place; its present contents "
                        "are lost."));
    } else if (replacements.originals != 0) {
        box.setInformativeText(
            QObject::tr("%1 of them are originals, repaired in place; their present contents "
                        "are lost.")
                .arg(replacements.originals));
    } else {
        box.setInformativeText(
            QObject::tr("They are not the picked files but files already in "
                        "that folder, perhaps from an earlier batch."));
    }
    QPushButton* replace = box.addButton(QObject::tr("&Replace"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QObject::tr("&Skip Existing"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == replace) {
        return ReplaceAnswer::Replace;
    }
    return box.clickedButton() == skip ? ReplaceAnswer::SkipExisting : ReplaceAnswer::Cancel;
}
