#include "app/gui/BatchRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <exception>

#include "app/ConvertJobs.h"
#include "app/FileList.h"
#include "app/LogSink.h"

namespace {

// Hands the batch's texts to the GUI thread.
class SignalLogSink : public LogSink {
  public:
    explicit SignalLogSink(BatchRunner& runner) : runner_(runner) {}

    void Clear() override { emit runner_.LogCleared(); }
    void Append(std::string_view text) override {
        emit runner_.LogAppended(
            QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size()))));
    }

  private:
    BatchRunner& runner_;
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

std::vector<BatchJob> BatchRunner::MakeJobs(const QString& destination, const QStringList& files) {
    const std::string folder = Encode(destination);
    std::vector<BatchJob> jobs;
    jobs.reserve(static_cast<std::size_t>(files.size()));
    for (const QString& file : files) {
        const std::string name = Encode(QFileInfo(file).fileName());
        jobs.push_back({Encode(file), name, JoinPath(folder, name)});
    }
    return jobs;
}

bool BatchRunner::Start(const QString& destination, const QStringList& files) {
    if (running_) {
        return false;
    }
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = true;
    stop_ = false;
    worker_ = std::thread(&BatchRunner::Run, this, MakeJobs(destination, files));
    return true;
}

void BatchRunner::RequestStop() {
    stop_ = true;
}

void BatchRunner::Run(std::vector<BatchJob> jobs) {
    SignalLogSink sink(*this);
    ConvertOptions options;
    options.stop = &stop_;
    options.jobs = 0;  // one per core, as the command line
    // An empty batch still starts with an empty log, as every batch does.
    sink.Clear();
    try {
        ConvertJobs(sink, jobs, options);
    } catch (const std::exception& e) {
        // Each file's failures are the batch's to log; this is only for what
        // escapes it (memory for the plan itself), so that the dialog is
        // told the batch is over rather than waiting for ever.
        sink.Append(std::string("Error: ") + e.what() + "\n");
    }
    QMetaObject::invokeMethod(this, &BatchRunner::OnWorkerDone, Qt::QueuedConnection);
}

void BatchRunner::OnWorkerDone() {
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    emit Finished();
}
