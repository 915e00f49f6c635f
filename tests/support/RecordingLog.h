// A log sink that records what the batch gave it (for tests that link the
// batch library).
#pragma once

#include <string>
#include <string_view>

#include "batch/LogSink.h"

using namespace Batch;

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
