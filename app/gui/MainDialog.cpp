#include "app/gui/MainDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
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
#include <QSaveFile>
#include <QShortcut>
#include <QUrl>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/gui/Icon.h"
#include "app/gui/LogView.h"
#include "app/gui/QtFilePicker.h"
#include "app/gui/Replacements.h"
#include "ui_MainDialog.h"

using Batch::BatchPlan;

namespace {

// Rounds units * base / divisor to the nearest pixel, halves away from zero.
int ScaleRounded(int units, int base, int divisor) {
    const long long product = static_cast<long long>(units) * base;
    const long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : (product - half) / divisor);
}

// Which of a control's edges follow the window's right edge as it grows, in
// halves of the growth: the template's "anchor" of each control.
struct Anchor {
    int left = 0;
    int right = 0;
};

Anchor AnchorOf(const QWidget& control) {
    const QString name = control.property("anchor").toString();
    if (name == QLatin1String("right")) {
        return {2, 2};
    }
    if (name == QLatin1String("stretch")) {
        return {0, 2};
    }
    if (name == QLatin1String("centre")) {
        return {1, 1};
    }
    if (name == QLatin1String("left-half")) {
        return {0, 1};
    }
    if (name == QLatin1String("right-half")) {
        return {1, 2};
    }
    return {};
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
    for (QWidget* control : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control->property("anchor").isValid()) {
            templateControls_.emplace_back(control, control->geometry());
        }
    }
    ui_->destination->setText(settings_.Destination());

    // The log is only read; drops onto it are files for the dialog.
    ui_->log->setAcceptDrops(false);
    ui_->log->viewport()->setAcceptDrops(false);
    setAcceptDrops(true);
    ui_->fixFiles->setFocus();

    connect(ui_->fixFiles, &QPushButton::clicked, this, &MainDialog::OnButton);
    connect(ui_->addFolder, &QPushButton::clicked, this, &MainDialog::AddFolder);
    connect(ui_->chooseDestination, &QPushButton::clicked, this, &MainDialog::ChooseDestination);
    connect(ui_->destination, &QLineEdit::textChanged, this,
            [this](const QString& folder) { settings_.SetDestination(folder); });
    connect(ui_->failuresOnly, &QCheckBox::toggled, ui_->log, &LogView::SetFailuresOnly);
    connect(ui_->retryFailed, &QPushButton::clicked, this, &MainDialog::RetryFailed);
    connect(ui_->saveLog, &QPushButton::clicked, this, &MainDialog::SaveLog);
    connect(ui_->openFolder, &QPushButton::clicked, this, &MainDialog::OpenDestination);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this), &QShortcut::activated, this,
            &QWidget::close);
    // The dialog clears the log itself as it starts a batch, so that what
    // it says of the inputs stays at the top of the batch's log.
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
    // Positions are the template's, converted, then moved by the growth
    // beyond the template's own size, so that the template's size
    // reproduces its positions exactly.
    const int growX = width() - units_.ToPixelsX(templateSize_.width());
    const int growY = height() - units_.ToPixelsY(templateSize_.height());
    for (const auto& [control, units] : templateControls_) {
        const QRect placed = units_.ToPixels(units);
        const Anchor anchor = AnchorOf(*control);
        const int left = placed.left() + anchor.left * growX / 2;
        const int right = placed.right() + 1 + anchor.right * growX / 2;
        if (control == ui_->log) {
            control->setGeometry(left, placed.top(), right - left, placed.height() + growY);
        } else {
            control->setGeometry(left, placed.top() + growY, right - left, placed.height());
        }
    }
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
    const QStringList files =
        picker_->PickFiles(tr("Targa (*.tga)"), QStringLiteral("tga"), settings_.SourceFolder());
    if (files.isEmpty()) {
        return;
    }
    settings_.SetSourceFolder(QFileInfo(files.front()).absolutePath());
    FixFiles(files);
}

void MainDialog::AddFolder() {
    if (runner_.IsRunning()) {
        return;
    }
    const QString folder =
        picker_->PickFolder(tr("Select folder to fix"), settings_.SourceFolder());
    if (folder.isEmpty()) {
        return;
    }
    // The folder it was picked in, where its neighbours are.
    settings_.SetSourceFolder(QFileInfo(QDir::cleanPath(folder)).absolutePath());
    FixFiles({folder});
}

void MainDialog::FixFiles(const QStringList& inputs) {
    if (runner_.IsRunning() || closePending_) {
        return;
    }
    Take(SortInputs(inputs));
}

void MainDialog::Take(const SortedInputs& sorted) {
    if (runner_.IsRunning() || closePending_) {
        return;
    }
    // What is left out and what is missing is said before anything is asked.
    const QString note = LeftOutText(sorted.leftOut);
    if (!note.isEmpty()) {
        ui_->log->Append(note, LogView::Kind::Plain);
    }
    for (qsizetype i = 0; i < sorted.missing.size(); ++i) {
        ui_->log->Append(MissingText(sorted.missing[i], sorted.reasons.value(i)),
                         LogView::Kind::Failure);
    }
    QStringList present = sorted.inputs;
    for (const QString& missing : sorted.missing) {
        present.removeOne(missing);
    }
    if (const BatchPlan found = BatchRunner::MakePlan(present, QString()); found.jobs.empty()) {
        for (const BatchPlan::Problem& problem : found.problems) {
            ui_->log->Append(QFile::decodeName(BatchRunner::ProblemText(problem).c_str()),
                             LogView::Kind::Failure);
        }
        ui_->log->Append(tr("No .tga files to fix in what was dropped or named.") + '\n',
                         LogView::Kind::Failure);
        return;
    }
    const QString destination = DestinationForBatch();
    if (destination.isEmpty() || closePending_) {
        return;
    }
    // Planned whole before anything is written, so that the question counts
    // every file the batch would write over as the folders stand now. A
    // missing path stays in, to fail with the system's reason.
    Start(BatchRunner::MakePlan(sorted.inputs, destination), destination, note);
}

QString MainDialog::DestinationForBatch() {
    const QString typed = ui_->destination->text();
    if (typed.isEmpty()) {
        const QString picked =
            picker_->PickFolder(tr("Select destination folder"), settings_.SourceFolder());
        if (!picked.isEmpty()) {
            ui_->destination->setText(QDir::toNativeSeparators(picked));
        }
        return picked;
    }
    if (QDir::isRelativePath(typed)) {
        ui_->log->Append(tr("The destination folder must be a full path: %1").arg(typed) + '\n',
                         LogView::Kind::Failure);
        return {};
    }
    return QDir::cleanPath(QDir::fromNativeSeparators(typed));
}

void MainDialog::ChooseDestination() {
    const QString current = ui_->destination->text();
    const QString picked = picker_->PickFolder(
        tr("Select destination folder"), current.isEmpty() ? settings_.SourceFolder() : current);
    if (!picked.isEmpty()) {
        ui_->destination->setText(QDir::toNativeSeparators(picked));
    }
}

void MainDialog::RetryFailed() {
    if (runner_.IsRunning() || failedJobs_.empty()) {
        return;
    }
    BatchPlan plan;
    plan.jobs = failedJobs_;
    Start(std::move(plan), destination_, QString());
}

void MainDialog::Start(BatchPlan plan, const QString& destination, const QString& note) {
    const Batch::Replacements replacements = Batch::FindReplacements(plan);
    ReplaceAnswer answer = ReplaceAnswer::Replace;
    if (replacements.count != 0) {
        answer = AskToReplace(this, replacements, destination);
        if (answer == ReplaceAnswer::Cancel || closePending_) {
            return;
        }
    }
    destination_ = destination;
    ui_->log->Clear();
    ui_->log->setPlaceholderText(QString());
    if (!note.isEmpty()) {
        ui_->log->Append(note, LogView::Kind::Plain);
    }
    runner_.SetNoClobber(answer == ReplaceAnswer::SkipExisting);
    SetBatchView(true);
    // The count is known before the first file: the bar says it at once.
    if (!plan.jobs.empty()) {
        ui_->progress->setFormat(tr("%1 of %2").arg(0).arg(plan.jobs.size()));
    }
    runner_.Start(std::move(plan));
}

void MainDialog::SaveLog() {
    const QString folder = destination_.isEmpty() ? settings_.SourceFolder() : destination_;
    const QString path =
        picker_->PickSaveFile(tr("Save Log"), tr("Text (*.txt)"),
                              QDir(folder).filePath(QStringLiteral("tessary-log.txt")));
    if (path.isEmpty()) {
        return;
    }
    // Written whole to a temporary file and renamed over the name, so that
    // a failure leaves any file already there as it was.
    QSaveFile file(path);
    const QByteArray text = ui_->log->toPlainText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        QMessageBox box(QMessageBox::Warning, title_,
                        tr("Unable to save the log to %1 (%2).")
                            .arg(QDir::toNativeSeparators(path), file.errorString()),
                        QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("saveLogFailed"));
        box.exec();
    }
}

void MainDialog::SetBatchView(bool running) {
    ui_->fixFiles->setText(running ? tr("&Stop") : tr("&Fix Files..."));
    ui_->fixFiles->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{ui_->addFolder, ui_->destination,
                                                            ui_->chooseDestination}) {
        control->setEnabled(!running);
    }
    ui_->retryFailed->setEnabled(!running && !failedJobs_.empty());
    ui_->saveLog->setEnabled(!running && !ui_->log->IsEmpty());
    ui_->progress->setRange(0, 1);
    ui_->progress->setValue(0);
    ui_->progress->setFormat(QString());
    ui_->currentFile->clear();
    ui_->progress->setVisible(running);
    ui_->currentFile->setVisible(running);
    ui_->openFolder->setVisible(!running);
    setWindowTitle(title_);
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
    ui_->log->Append(summary.text + '\n', LogView::Kind::Summary);
    failedJobs_ = summary.failedJobs;
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
    const SortedInputs sorted = SortDropped(event->mimeData()->urls());
    event->acceptProposedAction();
    // Ask for the folder once the drop has finished, not inside it.
    QMetaObject::invokeMethod(
        this, [this, sorted] { Take(sorted); }, Qt::QueuedConnection);
}
