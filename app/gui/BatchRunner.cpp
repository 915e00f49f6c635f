#include "app/gui/BatchRunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <exception>

#include "app/ConvertFiles.h"
#include "app/DestinationClaims.h"
#include "app/FileList.h"
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
    void Append(std::string_view text) override {
        emit runner_.LogAppended(
            QFile::decodeName(QByteArray(text.data(), static_cast<qsizetype>(text.size()))));
    }

  private:
    BatchRunner& runner_;
    bool cleared_ = false;
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

std::vector<std::string> BatchRunner::GroupFileLists(const QStringList& files) {
    std::vector<std::string> lists;
    std::string folder;
    std::vector<std::string> names;
    const auto flush = [&] {
        if (names.size() == 1) {
            lists.push_back(MakeFileList(JoinPath(folder, names.front())));
        } else if (!names.empty()) {
            lists.push_back(MakeFileList(folder, names));
        }
        names.clear();
    };
    for (const QString& file : files) {
        const QFileInfo info(file);
        const std::string fileFolder = Encode(QDir::cleanPath(info.absolutePath()));
        if (fileFolder != folder) {
            flush();
            folder = fileFolder;
        }
        names.push_back(Encode(info.fileName()));
    }
    flush();
    return lists;
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
    worker_ = std::thread(&BatchRunner::Run, this, Encode(destination), GroupFileLists(files));
    return true;
}

void BatchRunner::RequestStop() {
    stop_ = true;
}

void BatchRunner::Run(std::string destination, std::vector<std::string> lists) {
    SignalLogSink sink(*this);
    DestinationClaims claims;
    ConvertOptions options;
    options.stop = &stop_;
    options.claims = &claims;
    // An empty batch still starts with an empty log, as every batch does.
    sink.Clear();
    try {
        for (const std::string& list : lists) {
            if (stop_) {
                break;
            }
            ConvertFiles(sink, destination.c_str(), list.c_str(), options);
        }
    } catch (const std::exception& e) {
        // Each file's failures are the batch's to log; this is only for what
        // escapes it (memory for the list itself), so that the dialog is
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
