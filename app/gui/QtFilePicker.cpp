#include "app/gui/QtFilePicker.h"

#include <QFileDialog>
#include <QFileInfo>

QtFilePicker::QtFilePicker(QWidget* parent, Options options)
    : parent_(parent), options_(std::move(options)) {}

QStringList QtFilePicker::PickFiles(const QString& filter, const QString& defaultSuffix,
                                    const QString& startIn) {
    QFileDialog dialog(parent_, QString(), startIn, filter);
    dialog.setObjectName(QStringLiteral("filePicker"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setDefaultSuffix(defaultSuffix);
    dialog.setOption(QFileDialog::DontUseNativeDialog, options_.forceQtDialogs);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

QString QtFilePicker::PickFolder(const QString& title, const QString& startIn) {
    QFileDialog dialog(parent_, title, startIn);
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

QString QtFilePicker::PickSaveFile(const QString& title, const QString& filter,
                                   const QString& suggested) {
    QFileDialog dialog(parent_, title, QFileInfo(suggested).absolutePath(), filter);
    dialog.setObjectName(QStringLiteral("savePicker"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.selectFile(QFileInfo(suggested).fileName());
    dialog.setDefaultSuffix(QFileInfo(suggested).suffix());
    dialog.setOption(QFileDialog::DontUseNativeDialog, options_.forceQtDialogs);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    const QStringList picked = dialog.selectedFiles();
    return picked.isEmpty() ? QString() : picked.front();
}
