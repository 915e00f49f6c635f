#include "app/gui/BatchRunner.h"

#include <QFile>

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "batch/AppendLog.h"
#include "batch/ConvertJobs.h"
#include "batch/LogSink.h"
#include "batch/ShownName.h"
#include "batch/SummaryLine.h"

using Batch::AppendLog;
using Batch::BatchJob;
using Batch::BatchPlan;
using Batch::ConvertJobs;
using Batch::ConvertOptions;
using Batch::ConvertSummary;
using Batch::FileNaming;
using Batch::FileOutcome;
using Batch::FileProgress;
using Batch::LogSink;
using Batch::NotStarted;
using Batch::PlanBatch;
using Batch::ShownName;
using Batch::SummaryLine;

namespace {

// Hands the batch's texts to the GUI thread, and keeps the jobs that
// failed: the batch reports each job once, in list order.
class SignalLogSink : public LogSink {
  public:
    SignalLogSink(BatchRunner& runner, const std::vector<BatchJob>& jobs)
        : runner_(runner), jobs_(jobs) {}

    void Append(std::string_view text) override { emit runner_.LogAppended(Decode(text), true); }
    void AppendFile(std::string_view text, FileOutcome outcome) override {
        emit runner_.LogAppended(Decode(text), outcome == FileOutcome::Failed);
        if (outcome == FileOutcome::Failed && next_ < jobs_.size()) {
            failed_.push_back(jobs_[next_]);
        }
        ++next_;
    }
    std::vector<BatchJob> TakeFailed() { return std::move(failed_); }

    static QString Decode(std::string_view text) {
        return QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    }

  private:
    BatchRunner& runner_;
    const std::vector<BatchJob>& jobs_;
    std::size_t next_ = 0;
    std::vector<BatchJob> failed_;
};

std::string Encode(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

BatchRunner::BatchRunner(QObject* parent) : QObject(parent) {}

BatchRunner::~BatchRunner() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

BatchPlan BatchRunner::MakePlan(const QStringList& inputs, const QString& destination) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(inputs.size()));
    for (const QString& input : inputs) {
        paths.push_back(Encode(input));
    }
    return PlanBatch(paths, Encode(destination), true, FileNaming::ByName);
}

std::string BatchRunner::ProblemText(const BatchPlan::Problem& problem) {
    std::string text = ShownName(problem.folder);
    AppendLog(text, ": Unable to open folder (%s)\n", problem.reason.c_str());
    return text;
}

bool BatchRunner::Start(BatchPlan plan) {
    if (running_) {
        return false;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = true;
    stop_ = false;
    worker_ = std::thread(&BatchRunner::Run, this, std::move(plan));
    return true;
}

void BatchRunner::RequestStop() {
    stop_ = true;
}

void BatchRunner::Run(BatchPlan plan) {
    SignalLogSink sink(*this, plan.jobs);
    ConvertOptions options;
    options.stop = &stop_;
    options.jobs = jobs_;
    options.noClobber = noClobber_;
    options.createFolders = true;  // a folder's subfolders reappear below the destination
    options.progress = [this](const FileProgress& file) {
        emit Progress(static_cast<qint64>(file.index + 1), static_cast<qint64>(file.count),
                      SignalLogSink::Decode(file.name));
    };
    // Folders that could not be read are failures of their own, as on the
    // command line, reported before the files.
    for (const BatchPlan::Problem& problem : plan.problems) {
        sink.Append(ProblemText(problem));
    }
    ConvertSummary done;
    try {
        done = ConvertJobs(sink, plan.jobs, options);
    } catch (const std::exception& e) {
        // Each file's failures are the batch's to log; this is only for what
        // escapes it (memory for the plan itself), so that the dialog is
        // told the batch is over rather than waiting for ever.
        sink.Append(std::string("Error: ") + e.what() + "\n");
    }
    done.failed += plan.problems.size();
    BatchSummary summary;
    summary.text = QString::fromStdString(
        SummaryLine(done, NotStarted(done, plan.jobs.size() + plan.problems.size())));
    summary.failedJobs = sink.TakeFailed();
    QMetaObject::invokeMethod(
        this, [this, summary] { OnWorkerDone(summary); }, Qt::QueuedConnection);
}

void BatchRunner::OnWorkerDone(const BatchSummary& summary) {
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    emit Finished(summary);
}
