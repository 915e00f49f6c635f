// A fresh folder of its own under the system's temporary folder, removed
// with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return text_; }
    const std::filesystem::path& path() const { return path_; }
    // Path(), the system's separator, then `relative` as given.
    std::string operator/(std::string_view relative) const;

  private:
    std::filesystem::path path_;
    std::string text_;
};
