#include "app/gui/MainDialog.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QUrl>

#include <algorithm>

#include "app/gui/Icon.h"
#include "app/gui/QtFilePicker.h"
#include "ui_MainDialog.h"

namespace {

// Rounds units * base / divisor to the nearest pixel, halves away from zero.
int ScaleRounded(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

// Local files among the dropped or passed URLs; folders are not files to fix.
QStringList LocalFiles(const QList<QUrl>& urls) {
    QStringList files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir()) {
            files.push_back(url.toLocalFile());
        }
    }
    return files;
}

}  // namespace

DialogBaseUnits DialogBaseUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over both alphabets, rounded to the nearest pixel, as
    // dialog units have always been measured.
    const int alphabet = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogBaseUnits units;
    units.x = std::max(1, (alphabet / 26 + 1) / 2);
    units.y = std::max(1, metrics.height());
    return units;
}

int DialogBaseUnits::ToPixelsX(int units) const {
    return ScaleRounded(units, x, 4);
}

int DialogBaseUnits::ToPixelsY(int units) const {
    return ScaleRounded(units, y, 8);
}

QRect DialogBaseUnits::ToPixels(const QRect& units) const {
    return QRect(ToPixelsX(units.x()), ToPixelsY(units.y()), ToPixelsX(units.width()),
                 ToPixelsY(units.height()));
}

MainDialog::MainDialog(std::unique_ptr<FilePicker> picker, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MainDialog>()), picker_(std::move(picker)) {
    ui_->setupUi(this);
    if (!picker_) {
        picker_ = std::make_unique<QtFilePicker>(this);
    }
    // A plain window with a close control and a minimise button, like any
    // application's main window, not a transient helper dialog.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(TessaryIcon());

    templateSize_ = geometry().size();
    templateLog_ = ui_->log->geometry();
    templateButton_ = ui_->fixFiles->geometry();

    // The log is only read; drops onto it are files for the dialog.
    ui_->log->setAcceptDrops(false);
    ui_->log->viewport()->setAcceptDrops(false);
    setAcceptDrops(true);

    connect(ui_->fixFiles, &QPushButton::clicked, this, [this] { FixFiles(); });
    connect(&runner_, &BatchRunner::LogCleared, this, &MainDialog::ClearLog);
    connect(&runner_, &BatchRunner::LogAppended, this, &MainDialog::AppendToLog);
    connect(&runner_, &BatchRunner::Finished, this, &MainDialog::OnBatchFinished);

    ApplyTemplate();
}

MainDialog::~MainDialog() = default;

void MainDialog::ApplyTemplate() {
    units_ = DialogBaseUnits::FromFont(font());
    const QSize size(units_.ToPixelsX(templateSize_.width()),
                     units_.ToPixelsY(templateSize_.height()));
    setMinimumSize(size);
    resize(size);
    LayOut();
}

void MainDialog::LayOut() {
    // The log takes all but the template's bottom band; the button keeps its
    // size and its distance from the bottom edge, centred across. Distances
    // are differences of converted positions so that the template's own size
    // reproduces its positions exactly.
    const int templateHeight = units_.ToPixelsY(templateSize_.height());
    const int band = templateHeight - units_.ToPixelsY(templateLog_.y() + templateLog_.height());
    ui_->log->setGeometry(0, 0, width(), std::max(0, height() - band));
    const QRect button = units_.ToPixels(templateButton_);
    const int fromBottom = templateHeight - button.y();
    ui_->fixFiles->setGeometry((width() - button.width()) / 2, height() - fromBottom,
                               button.width(), button.height());
}

void MainDialog::FixFiles() {
    if (runner_.IsRunning()) {
        return;
    }
    const QStringList files = picker_->PickFiles(tr("Targa (*.tga)"), QStringLiteral("tga"));
    if (files.isEmpty()) {
        return;
    }
    FixFiles(files);
}

void MainDialog::FixFiles(const QStringList& files) {
    if (runner_.IsRunning() || files.isEmpty()) {
        return;
    }
    const QString destination = picker_->PickFolder(tr("Select destination folder"));
    if (destination.isEmpty() || closePending_) {
        return;
    }
    ui_->fixFiles->setEnabled(false);
    runner_.Start(destination, files);
}

void MainDialog::ClearLog() {
    ui_->log->clear();
}

void MainDialog::AppendToLog(const QString& text) {
    // Like typing at the end: any selection goes, and the end stays in view.
    QTextCursor cursor(ui_->log->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    ui_->log->setTextCursor(cursor);
    ui_->log->ensureCursorVisible();
}

void MainDialog::OnBatchFinished() {
    ui_->fixFiles->setEnabled(true);
    emit BatchFinished();
    if (closePending_) {
        close();
    }
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Enter:
        case Qt::Key_Return:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (runner_.IsRunning()) {
        // Finish the file at hand (its output is replaced only when
        // complete), then go.
        closePending_ = true;
        runner_.RequestStop();
        event->ignore();
        return;
    }
    event->accept();
}

void MainDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        ApplyTemplate();
    }
}

void MainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOut();
}

void MainDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!runner_.IsRunning() && !LocalFiles(event->mimeData()->urls()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void MainDialog::dropEvent(QDropEvent* event) {
    const QStringList files = LocalFiles(event->mimeData()->urls());
    if (runner_.IsRunning() || files.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // Ask for the folder once the drop has finished, not inside it.
    QMetaObject::invokeMethod(
        this, [this, files] { FixFiles(files); }, Qt::QueuedConnection);
}
