// Runs batches on a thread of their own, so the dialog keeps painting and
// its log grows while files are converted. What the batch reports arrives
// as signals, queued to the thread this object lives on.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "batch/BatchPlan.h"

// How a batch ended.
struct BatchSummary {
    // The log's last line, as the command line and the other dialog give it
    // (Batch::SummaryLine): "8 converted, 1 failed", with ", 2 skipped" and
    // ", 3 not started" (the batch was stopped first) when any were.
    QString text;
    // The jobs of the files that failed, in list order, to be tried again.
    std::vector<Batch::BatchJob> failedJobs;
};

class BatchRunner : public QObject {
    Q_OBJECT

  public:
    explicit BatchRunner(QObject* parent = nullptr);
    // Stops a running batch after its current file and waits for it.
    ~BatchRunner() override;

    // The batch for `inputs` (full paths): a file is written under its own
    // name into `destination` and logged by that name; a folder stands for
    // every .tga file below it, logged by its path relative to the folder
    // and written under that path below `destination`. An empty destination
    // plans without deciding where anything goes.
    static Batch::BatchPlan MakePlan(const QStringList& inputs, const QString& destination);
    // The log's line for a folder that could not be read, as the command
    // line gives it.
    static std::string ProblemText(const Batch::BatchPlan::Problem& problem);

    // Converts what `plan` lists, in its order. Answers false, and does
    // nothing, while a batch runs.
    bool Start(Batch::BatchPlan plan);
    // Ends the running batch once the files being converted are done.
    void RequestStop();
    bool IsRunning() const { return running_; }
    // Files converted at once; 0, the default, is one per core, as the
    // command line converts.
    void SetJobs(unsigned jobs) { jobs_ = jobs; }
    // Leave destinations that exist alone, as the command line's
    // --no-clobber does; for the batches started from now on.
    void SetNoClobber(bool noClobber) { noClobber_ = noClobber; }

  signals:
    // `failure` marks the texts of files that failed and of folders that
    // could not be read.
    void LogAppended(const QString& text, bool failure);
    // For each file in list order, its 1-based position among `count` and
    // its name: before its turn when files are converted one at a time, as
    // its text is appended otherwise. Emitted on the batch's thread; connect
    // directly only to hold it there.
    void Progress(qint64 position, qint64 count, const QString& name);
    // Emitted after the last text of the batch.
    void Finished(const BatchSummary& summary);

  private:
    void Run(Batch::BatchPlan plan);
    void OnWorkerDone(const BatchSummary& summary);

    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
    unsigned jobs_ = 0;
    bool noClobber_ = false;
};
