// Runs batches on a thread of their own, so the dialog keeps painting and
// its log grows while files are converted. What the batch logs arrives as
// signals, queued to the thread this object lives on.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/BatchJob.h"

class BatchRunner : public QObject {
    Q_OBJECT

  public:
    explicit BatchRunner(QObject* parent = nullptr);
    // Stops a running batch after its current file and waits for it.
    ~BatchRunner() override;

    // Converts `files` (full paths, from any number of folders) into
    // `destination`. Answers false, and does nothing, while a batch runs.
    bool Start(const QString& destination, const QStringList& files);
    // Ends the running batch once its current file is done.
    void RequestStop();
    bool IsRunning() const { return running_; }

    // The job list of one batch: each file, logged by its name, written
    // under that name into `destination`, in the order given.
    static std::vector<BatchJob> MakeJobs(const QString& destination, const QStringList& files);

  signals:
    void LogCleared();
    void LogAppended(const QString& text);
    // Emitted after the last text of the batch.
    void Finished();

  private slots:
    void OnWorkerDone();

  private:
    void Run(std::vector<BatchJob> jobs);

    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
};
