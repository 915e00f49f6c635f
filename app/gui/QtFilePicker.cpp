#include "app/gui/QtFilePicker.h"

#include <QFileDialog>
#include <QFileInfo>

QtFilePicker::QtFilePicker(QWidget* parent, Options options)
    : parent_(parent), options_(std::move(options)) {}

QStringList QtFilePicker::PickFiles(const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent_, QString(), lastFolder_, filter);
    dialog.setObjectName(QStringLiteral("filePicker"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog, options_.forceQtDialogs);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    QStringList files = dialog.selectedFiles();
    if (!files.isEmpty()) {
        lastFolder_ = QFileInfo(files.front()).absolutePath();
    }
    return files;
}

QString QtFilePicker::PickFolder(const QString& title) {
    QFileDialog dialog(parent_, title, lastFolder_);
    dialog.setObjectName(QStringLiteral("folderPicker"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::DontUseNativeDialog, options_.forceQtDialogs);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList picked = dialog.selectedFiles();
    return picked.isEmpty() ? QString() : picked.front();
}
