// Tessary's one window: the log of the last batch, its actions (failures
// only, retry, save), the destination folder, and the "Fix Files..." and
// "Add Folder..." buttons. A press asks for the files or the folder, then
// for the destination folder unless one is set, then (when files there
// would be replaced) whether to replace them, skip them or cancel, and
// converts on a worker thread while the log fills in and a progress bar
// beside the buttons, one of which turns into Stop, counts the files. The
// destination and the folder of the last pick are remembered across runs.
#pragma once

#include <QDialog>
#include <QRect>
#include <QSize>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

#include "app/gui/BatchRunner.h"
#include "app/gui/DialogSettings.h"
#include "app/gui/FilePicker.h"
#include "app/gui/InputSort.h"

namespace Ui {
class MainDialog;
}

// Pixels per dialog unit along each axis, from a font's metrics: a quarter
// of its average character width across and an eighth of its height down.
// Kept as the whole base units so that conversions round like the template
// editor's, not cumulatively.
struct DialogBaseUnits {
    int x = 0;  // average character width in pixels
    int y = 0;  // character height in pixels

    static DialogBaseUnits FromFont(const QFont& font);
    int ToPixelsX(int units) const;
    int ToPixelsY(int units) const;
    QRect ToPixels(const QRect& units) const;
};

class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // Without a picker the dialog asks through Qt's file dialogs.
    explicit MainDialog(std::unique_ptr<FilePicker> picker = nullptr, QWidget* parent = nullptr);
    ~MainDialog() override;

    // The press of "Fix Files...": the file picker, the folder picker
    // (unless a destination is set), the batch. Does nothing while a batch
    // runs.
    void FixFiles();
    // The same with the inputs already chosen (from the command line):
    // only the folder picker remains before the batch. A folder stands for
    // every .tga file below it, written to the same relative place below
    // the destination. Paths are sorted as drops are (see InputSort.h);
    // when nothing is left to fix, the log says so and nothing is asked.
    void FixFiles(const QStringList& inputs);
    // The press of "Add Folder...": a folder picker, then as FixFiles.
    void AddFolder();
    // The press of "Retry Failed": the files that failed in the last batch,
    // into the same destination.
    void RetryFailed();

    // Replaces the pickers the dialog asks through.
    void SetPicker(std::unique_ptr<FilePicker> picker) { picker_ = std::move(picker); }

    bool IsBatchRunning() const { return runner_.IsRunning(); }

    // Escape must never end the dialog, nor Enter; only the window's close
    // control and Ctrl+Q do.
    void reject() override {}

  signals:
    void BatchFinished();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void ApplyTemplate();
    void LayOut();
    void OnButton();
    // Says what was left out and what is missing, then asks for the
    // destination (unless set) and starts.
    void Take(const SortedInputs& sorted);
    // The field's folder, or the picker's when the field is empty (the pick
    // then fills it); empty when cancelled or not a full path.
    QString DestinationForBatch();
    void ChooseDestination();
    // Asks about files it would replace, then starts; `note` heads the log.
    void Start(Batch::BatchPlan plan, const QString& destination, const QString& note);
    void SaveLog();
    void AppendToLog(const QString& text, bool failure);
    void OnProgress(qint64 position, qint64 count, const QString& name);
    void OnBatchFinished(const BatchSummary& summary);
    void SetBatchView(bool running);
    void OpenDestination();

    std::unique_ptr<Ui::MainDialog> ui_;
    std::unique_ptr<FilePicker> picker_;
    BatchRunner runner_;
    DialogSettings settings_;
    // The template as the .ui file gives it, in dialog units: the window's
    // size and each control's place.
    QSize templateSize_;
    std::vector<std::pair<QWidget*, QRect>> templateControls_;
    DialogBaseUnits units_;
    QString title_;
    QString destination_;                      // of the last batch started
    std::vector<Batch::BatchJob> failedJobs_;  // of the last batch
    // The window was closed during a batch; it goes once the batch ends.
    bool closePending_ = false;
    // Stop was pressed from the keyboard; the focus returns to the button.
    bool refocusButton_ = false;
};
