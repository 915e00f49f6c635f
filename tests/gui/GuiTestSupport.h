// Helpers of the dialog tests: the shared temporary folder with Qt paths,
// small TGA files, a wait for the batch thread and answers to modal dialogs.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QSettings>
#include <QString>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "support/Files.h"
#include "support/TempDir.h"

// Readable failure messages for Qt's strings.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// The shared temporary folder with paths as the dialog takes them.
class GuiTempDir : public TempDir {
  public:
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }
    QString Q() const { return QString::fromStdString(Path()); }
    QString Q(const std::string& name) const {
        return QString::fromStdString((path() / name).string());
    }
};

// Where settings go between tests: a temporary folder of the whole run's
// (GuiTestMain), so that no test reads or writes the user's settings.
inline QString& RunSettingsFolder() {
    static QString folder;
    return folder;
}

// Gives what the dialog remembers a fresh folder of the test's own while it
// lives.
class SettingsIn {
  public:
    explicit SettingsIn(const GuiTempDir& dir) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.Q("settings"));
    }
    ~SettingsIn() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, RunSettingsFolder());
    }
};

// A 2 x 2 true-colour image, 24 bits per pixel, stored top-down.
inline Bytes TopDownTga() {
    return {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20,
            // top row, then bottom row
            1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
}

// The same image as the batch writes it: bottom-up, descriptor 0.
inline Bytes TopDownTgaFixed() {
    return {0, 0,  2, 0, 0, 0, 0,  0,  0,  0, 0, 0, 2, 0, 2,
            0, 24, 0, 7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6};
}

// A header that promises pixels the file does not hold.
inline Bytes TruncatedTga() {
    return {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0, 1, 2, 3};
}

// Processes events until `done` holds; fails the test after `seconds`
// rather than hanging it.
template <typename F>
bool WaitUntil(F&& done, int seconds = 30) {
    QDeadlineTimer deadline(seconds * 1000);
    while (!done()) {
        if (deadline.hasExpired()) {
            ADD_FAILURE() << "timed out waiting";
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Hands the next modal dialog of type T to `answer` once it is up. A test
// that expects none checks `Answered()` afterwards; an unexpected one is
// still answered, so the test fails instead of hanging.
template <typename T>
class ModalAnswer {
  public:
    explicit ModalAnswer(std::function<void(T&)> answer) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
            if (modal == nullptr || !modal->isVisible()) {
                return;
            }
            timer_.stop();
            answered_ = true;
            answer(*modal);
        });
        timer_.start();
    }
    bool Answered() const { return answered_; }

  private:
    QTimer timer_;
    bool answered_ = false;
};

// Clicks the button of `dialog` whose text, without its mnemonic, is `text`.
inline void ClickButton(QWidget& dialog, const QString& text) {
    for (QAbstractButton* button : dialog.findChildren<QAbstractButton*>()) {
        if (button->text().remove(QLatin1Char('&')) == text) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
}
