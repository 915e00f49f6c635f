// Paths inside the program are text: UTF-8 on Windows, the system's own bytes
// elsewhere. These turn them into what the system's calls take, at the call,
// so that every name works, whatever its letters and however deep it lies.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace Files {

// The path as std::filesystem takes it, and back. On Windows a narrow string
// given to std::filesystem is read in the ANSI code page, which mangles
// UTF-8 and cannot hold most names at all; these convert through UTF-16.
std::filesystem::path SystemPath(std::string_view path);
std::string PathText(const std::filesystem::path& path);

// Names that differ only in letter case: one file on Windows, two elsewhere.
// Folds a path into one spelling for comparing, never for opening.
std::string CaseFolded(std::string_view path);

#ifdef _WIN32
std::wstring WideText(std::string_view text);
std::string Utf8Text(std::wstring_view text);

// The path for a "...W" call. A path too long for the classic limit
// (MAX_PATH) is made absolute and given the "\\?\" prefix that lifts it;
// shorter ones pass as written, so relative names keep their meaning.
std::wstring WidePath(const char* path);
std::wstring WidePath(const std::string& path);
#endif

}  // namespace Files
