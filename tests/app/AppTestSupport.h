// Shared pieces of the batch and command-line tests: a temporary folder,
// whole-file reading and writing, small TGA files built byte by byte, and a
// log sink that records what it was given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/LogSink.h"

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path; }
    // Path() + "/" + relative.
    std::string operator/(std::string_view relative) const;

  private:
    std::string path;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);  // empty when missing
bool FileExists(const std::string& path);
// Names in a folder, sorted; "." and ".." left out.
std::vector<std::string> ListFolder(const std::string& path);

// A 24-bit true-colour image of width x height whose pixel at (x, y), y
// counted from the top of the picture, is {x, y, 0x80} (blue, green, red in
// the file). `topDown` and `rightToLeft` pick the stored order; `imageId`
// is put after the header.
Bytes MakeTrueColourTGA(int width, int height, bool topDown, bool rightToLeft,
                        std::string_view imageId = {});
// What the batch writes for the same picture: bottom-up, left to right, no
// image ID.
Bytes ExpectedPlainTGA(int width, int height);

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
