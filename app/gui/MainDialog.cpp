#include "app/gui/MainDialog.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QUrl>

#include <algorithm>
#include <string>
#include <vector>

#include "app/gui/Icon.h"
#include "app/gui/LogView.h"
#include "app/gui/QtFilePicker.h"
#include "app/gui/Replacements.h"
#include "ui_MainDialog.h"

using namespace Batch;

namespace {

// Rounds units * base / divisor to the nearest pixel, halves away from zero.
int ScaleRounded(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

// What a drop holds that the batch can take: local folders and .tga files.
// Anything else (other files, remote addresses) is left out.
QStringList UsableInputs(const QList<QUrl>& urls) {
    QStringList inputs;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QFileInfo info(url.toLocalFile());
        if (info.isDir() || HasTGAExtension(QFile::encodeName(info.fileName()).toStdString())) {
            inputs.push_back(info.absoluteFilePath());
        }
    }
    return inputs;
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
    : QDialog(parent),
      ui_(std::make_unique<Ui::MainDialog>()),
      picker_(std::move(picker)),
      runner_(this) {
    ui_->setupUi(this);
    if (!picker_) {
        picker_ = std::make_unique<QtFilePicker>(this);
    }
    // A plain window with a close control and a minimise button, like any
    // application's main window, not a transient helper dialog.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(TessaryIcon());
    title_ = windowTitle();

    templateSize_ = geometry().size();
    templateLog_ = ui_->log->geometry();
    templateButton_ = ui_->fixFiles->geometry();
    templateProgress_ = ui_->progress->geometry();

    // The log is only read; drops onto it are files for the dialog.
    ui_->log->setAcceptDrops(false);
    ui_->log->viewport()->setAcceptDrops(false);
    setAcceptDrops(true);
    ui_->fixFiles->setFocus();

    connect(ui_->fixFiles, &QPushButton::clicked, this, &MainDialog::OnButton);
    connect(ui_->openFolder, &QPushButton::clicked, this, &MainDialog::OpenDestination);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this,
            &QWidget::close);
    connect(&runner_, &BatchRunner::LogCleared, this, &MainDialog::ClearLog);
    connect(&runner_, &BatchRunner::LogAppended, this, &MainDialog::AppendToLog);
    connect(&runner_, &BatchRunner::Progress, this, &MainDialog::OnProgress);
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
    const QRect placed((width() - button.width()) / 2, height() - fromBottom, button.width(),
                       button.height());
    ui_->fixFiles->setGeometry(placed);
    // Beside the button, the same margin from each edge: the progress bar
    // to its left, the current file or the folder action to its right.
    const QRect progress = units_.ToPixels(templateProgress_);
    const int margin = progress.x();
    const int side = std::max(0, placed.left() - 2 * margin);
    ui_->progress->setGeometry(margin, placed.top() + (placed.height() - progress.height()) / 2,
                               side, progress.height());
    const QRect right(placed.right() + 1 + margin, placed.top(), side, placed.height());
    ui_->currentFile->setGeometry(right);
    ui_->openFolder->setGeometry(
        right.x(), right.y(), std::min(side, ui_->openFolder->sizeHint().width()), right.height());
}

void MainDialog::OnButton() {
    if (!runner_.IsRunning()) {
        FixFiles();
        return;
    }
    refocusButton_ = ui_->fixFiles->hasFocus();
    runner_.RequestStop();
    ui_->fixFiles->setText(tr("Stopping..."));
    ui_->fixFiles->setEnabled(false);
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

void MainDialog::FixFiles(const QStringList& inputs) {
    if (runner_.IsRunning() || closePending_) {
        return;
    }
    if (const BatchPlan found = BatchRunner::MakePlan(inputs, QString()); found.jobs.empty()) {
        for (const BatchPlan::Problem& problem : found.problems) {
            ui_->log->Append(QFile::decodeName(BatchRunner::ProblemText(problem).c_str()),
                             LogView::Kind::Failure);
        }
        ui_->log->Append(tr("No .tga files to fix in what was dropped or named.") + '\n',
                         LogView::Kind::Failure);
        return;
    }
    const QString destination = picker_->PickFolder(tr("Select destination folder"));
    if (destination.isEmpty() || closePending_) {
        return;
    }
    // Planned whole before anything is written, so that the question counts
    // every file the batch would write over as the folders stand now.
    BatchPlan plan = BatchRunner::MakePlan(inputs, destination);
    const Replacements replacements = FindReplacements(plan);
    if (replacements.count != 0 && !AskToReplace(this, replacements, destination)) {
        return;
    }
    destination_ = destination;
    ui_->log->setPlaceholderText(QString());
    SetBatchView(true);
    runner_.Start(std::move(plan));
}

void MainDialog::SetBatchView(bool running) {
    ui_->fixFiles->setText(running ? tr("&Stop") : tr("&Fix Files..."));
    ui_->fixFiles->setEnabled(true);
    ui_->progress->setRange(0, 1);
    ui_->progress->setValue(0);
    ui_->progress->setFormat(QString());
    ui_->currentFile->clear();
    ui_->progress->setVisible(running);
    ui_->currentFile->setVisible(running);
    ui_->openFolder->setVisible(!running);
    setWindowTitle(title_);
}

void MainDialog::ClearLog() {
    ui_->log->clear();
}

void MainDialog::AppendToLog(const QString& text, bool failure) {
    ui_->log->Append(text, failure ? LogView::Kind::Failure : LogView::Kind::Plain);
}

void MainDialog::OnProgress(qint64 position, qint64 count, const QString& name) {
    // The bar counts the files done, in thousandths so that any count fits
    // its range; its text names the one in hand.
    ui_->progress->setRange(0, 1000);
    ui_->progress->setValue(static_cast<int>((position - 1) * 1000 / count));
    ui_->progress->setFormat(tr("%1 of %2").arg(position).arg(count));
    ui_->currentFile->setText(ui_->currentFile->fontMetrics().elidedText(
        name, Qt::ElideMiddle, ui_->currentFile->width()));
    ui_->currentFile->setToolTip(name);
    setWindowTitle(QStringLiteral("%1% - %2").arg((position - 1) * 100 / count).arg(title_));
}

void MainDialog::OnBatchFinished(const BatchSummary& summary) {
    ui_->log->Append(summary.Text() + '\n', LogView::Kind::Summary);
    SetBatchView(false);
    if (refocusButton_) {
        ui_->fixFiles->setFocus();
        refocusButton_ = false;
    }
    emit BatchFinished();
    if (closePending_) {
        close();
    }
}

void MainDialog::OpenDestination() {
    QDesktopServices::openUrl(QUrl::fromLocalFile(destination_));
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Enter:
        case Qt::Key_Return:
            // Like Space: the focused button, never a default one.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget());
                button != nullptr && button->isEnabled()) {
                button->animateClick();
            }
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (!runner_.IsRunning()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closePending_) {
        return;
    }
    QMessageBox box(QMessageBox::Question, title_, tr("A batch is running. Stop it and quit?"),
                    QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("quitQuestion"));
    box.setInformativeText(
        tr("The files being converted are finished first; the others are not started."));
    QPushButton* quit = box.addButton(tr("Stop and &Quit"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(tr("&Keep Converting"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() != quit) {
        return;
    }
    if (!runner_.IsRunning()) {
        close();  // the batch ended while the question was open
        return;
    }
    closePending_ = true;
    runner_.RequestStop();
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
    // Any address is accepted, so that a drop with nothing to fix in it can
    // say so rather than bounce back without a word.
    if (!runner_.IsRunning() && event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void MainDialog::dropEvent(QDropEvent* event) {
    if (runner_.IsRunning()) {
        return;
    }
    const QStringList inputs = UsableInputs(event->mimeData()->urls());
    event->acceptProposedAction();
    // Ask for the folder once the drop has finished, not inside it.
    QMetaObject::invokeMethod(
        this, [this, inputs] { FixFiles(inputs); }, Qt::QueuedConnection);
}
