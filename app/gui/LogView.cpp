#include "app/gui/LogView.h"

#include <QMimeData>
#include <QPalette>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocumentFragment>

namespace {

// A red that keeps its contrast against the pane's own background: deep on
// light themes, pale on dark ones.
QColor FailureColour(const QPalette& palette) {
    return palette.color(QPalette::Base).lightnessF() > 0.5 ? QColor(176, 0, 32)
                                                            : QColor(255, 128, 128);
}

}  // namespace

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {}

void LogView::Append(const QString& text, Kind kind) {
    entries_.push_back({text, kind});
    if (Shows(kind)) {
        Insert(text, kind);
    }
}

void LogView::Clear() {
    entries_.clear();
    clear();
}

void LogView::SetFailuresOnly(bool failuresOnly) {
    if (failuresOnly == failuresOnly_) {
        return;
    }
    failuresOnly_ = failuresOnly;
    clear();
    for (const Entry& entry : entries_) {
        if (Shows(entry.kind)) {
            Insert(entry.text, entry.kind);
        }
    }
}

void LogView::Insert(const QString& text, Kind kind) {
    QTextCharFormat format;
    if (kind == Kind::Failure) {
        format.setForeground(FailureColour(palette()));
        format.setFontWeight(QFont::Bold);
    } else if (kind == Kind::Summary) {
        format.setFontWeight(QFont::Bold);
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text, format);
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData* LogView::createMimeDataFromSelection() const {
    auto* mime = new QMimeData;
    mime->setText(textCursor().selection().toPlainText());
    return mime;
}
