// Helpers of the dialog tests: the shared temporary folder with Qt paths,
// small TGA files and a wait for the batch thread.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>

#include <filesystem>
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
