// Shared pieces of the batch and command-line tests: the shared temporary
// folder, files and TGA builders under the names these tests use, and a log
// sink that records what it was given.
#pragma once

#include <string>
#include <string_view>

#include "app/LogSink.h"
#include "support/Files.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"
#include "support/TgaFiles.h"

inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    WriteBytes(path, bytes);
}
// Empty when missing.
inline Bytes ReadFileBytes(const std::string& path) {
    return ReadBytes(path).value_or(Bytes{});
}

// Records the log: the whole text and how often it was cleared.
class RecordingLog : public LogSink {
  public:
    void Clear() override {
        ++clears;
        text.clear();
        appendsSinceClear = 0;
    }
    void Append(std::string_view added) override {
        text.append(added);
        ++appendsSinceClear;
    }

    std::string text;
    int clears = 0;
    int appendsSinceClear = 0;
};
