#include "app/gui/BatchRunner.h"

#include <QFile>

#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "app/ConvertFiles.h"
#include "app/DestinationClaims.h"
#include "app/LogSink.h"

namespace {

// Hands the batch's texts to the GUI thread. A batch made of several lists
// clears the log once, before the first.
class SignalLogSink : public LogSink {
  public:
    explicit SignalLogSink(BatchRunner& runner) : runner_(runner) {}

    void Clear() override {
        if (!cleared_) {
            cleared_ = true;
            emit runner_.LogCleared();
        }
    }
    void Append(std::string_view text) override { emit runner_.LogAppended(Decode(text)); }

    static QString Decode(std::string_view text) {
        return QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size())));
    }

  private:
    BatchRunner& runner_;
    bool cleared_ = false;
};

}  // namespace

QString BatchSummary::Text() const {
    QString text = QStringLiteral("%1 converted, %2 failed").arg(converted).arg(failed);
    if (notStarted != 0) {
        text += QStringLiteral(", %1 not started").arg(notStarted);
    }
    return text;
}

BatchRunner::BatchRunner(QObject* parent) : QObject(parent) {}

BatchRunner::~BatchRunner() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool BatchRunner::IsFailureText(const QString& text) {
    return !text.endsWith(QLatin1String("...Done\n"));
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
    SignalLogSink sink(*this);
    DestinationClaims claims;
    std::size_t started = 0;
    ConvertOptions options;
    options.stop = &stop_;
    options.claims = &claims;
    options.progress = [&](const FileProgress& file) {
        emit Progress(static_cast<qint64>(started + file.index + 1),
                      static_cast<qint64>(plan.fileCount), SignalLogSink::Decode(file.name));
    };
    BatchSummary summary;
    // An empty batch still starts with an empty log, as every batch does.
    sink.Clear();
    for (const std::string& problem : plan.problems) {
        sink.Append("Unable to read folder " + problem + "\n");
    }
    try {
        for (const BatchGroup& group : plan.groups) {
            if (stop_) {
                break;
            }
            // A folder's subfolders reappear below the destination; should
            // this fail, every file of the group says it cannot be written.
            std::error_code ignored;
            std::filesystem::create_directories(group.destinationFolder, ignored);
            const ConvertSummary done = ConvertFiles(sink, group.destinationFolder.c_str(),
                                                     group.fileList.c_str(), options);
            summary.converted += done.converted;
            summary.failed += done.failed;
            started += group.names.size();
        }
    } catch (const std::exception& e) {
        // Each file's failures are the batch's to log; this is only for what
        // escapes it (memory for the list itself), so that the dialog is
        // told the batch is over rather than waiting for ever.
        sink.Append(std::string("Error: ") + e.what() + "\n");
    }
    summary.notStarted = plan.fileCount - summary.converted - summary.failed;
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
