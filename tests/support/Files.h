// Whole files read and written at once, and what a folder holds.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Creates or truncates `path`; throws std::runtime_error when it cannot.
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
// Nothing when the file cannot be opened.
std::optional<Bytes> ReadBytes(const std::filesystem::path& path);
// True for anything at `path`, a dangling symbolic link included.
bool FileExists(const std::filesystem::path& path);
// Names in a folder, sorted; "." and ".." left out; empty when unreadable.
std::vector<std::string> ListFolder(const std::filesystem::path& folder);
