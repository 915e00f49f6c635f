// The pickers as Qt's file dialogs, modal to the dialog that asks.
#pragma once

#include <QString>

#include "app/gui/FilePicker.h"

class QWidget;

class QtFilePicker : public FilePicker {
  public:
    struct Options {
        // Qt's own dialogs even where the desktop offers native ones; tests
        // use them because they can be driven like any other widget.
        bool forceQtDialogs = false;
    };

    QtFilePicker(QWidget* parent, Options options);
    explicit QtFilePicker(QWidget* parent) : QtFilePicker(parent, Options{}) {}

    QStringList PickFiles(const QString& filter, const QString& defaultSuffix,
                          const QString& startIn) override;
    QString PickFolder(const QString& title, const QString& startIn) override;
    QString PickSaveFile(const QString& title, const QString& filter,
                         const QString& suggested) override;

  private:
    QWidget* parent_;
    Options options_;
};
