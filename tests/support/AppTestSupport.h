// Shared pieces of the batch and command-line tests: the shared temporary
// folder, files, TGA builders and recording log, with the names these tests
// use.
#pragma once

#include <string>
#include <string_view>

#include "support/Files.h"
#include "support/MountNamespace.h"
#include "support/RecordingLog.h"
#include "support/TempDir.h"
#include "support/TgaFiles.h"

inline void WriteFileBytes(const std::string& path, const Bytes& bytes) {
    WriteBytes(path, bytes);
}
// Empty when missing.
inline Bytes ReadFileBytes(const std::string& path) {
    return ReadBytes(path).value_or(Bytes{});
}
