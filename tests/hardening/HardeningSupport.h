// Shared pieces of the hardening tests: generated TGA files of every
// variant, a sample of the public corpus, and tessary-cli run as a child
// process with the system's limits set on it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/Corpus.h"
#include "support/Files.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"

// The shared temporary folder: world-readable, so that an unprivileged
// child can reach what the test puts there.
using ScratchDir = TempDir;

// Names in a folder, sorted, "." and ".." left out; raw bytes, not decoded.
inline std::vector<std::string> Listing(const std::string& folder) {
    return ListFolder(folder);
}
// Names that look like the batch's temporary files: ".<name>.tessary-*.tmp".
std::vector<std::string> TemporaryFiles(const std::string& folder);

struct TgaSpec {
    std::uint8_t imageType = 2;  // 1, 2, 3, or 9, 10, 11 for run-length
    std::uint16_t width = 4;
    std::uint16_t height = 3;
    std::uint8_t depth = 24;
    std::uint8_t descriptor = 0;  // bit 4 right to left, bit 5 top down
    std::uint8_t idLength = 0;
    std::uint16_t mapLength = 0;  // colour-mapped files: entries of mapEntryBits
    std::uint8_t mapEntryBits = 24;
    std::uint32_t seed = 1;
    bool packetsCrossRows = false;  // run-length packets over the whole picture
};
// A well-formed file; run-length files mix runs and raw packets, none
// crossing a row unless asked, and nothing follows the last pixel.
Bytes MakeTga(const TgaSpec& spec);
// Generated files of every class, depth, orientation and encoding.
std::vector<std::pair<std::string, Bytes>> GeneratedFiles();

// What the batch should write for `file`: ReadTGA then WriteTGA, in memory.
Bytes NormalForm(const Bytes& file);

// Up to `count` corpus files (.tga in any case), spread over the whole
// corpus in a stable order; empty when the corpus is missing.
std::vector<std::string> CorpusSample(std::size_t count);

struct ProcessResult {
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;
    std::string output;  // stdout and stderr, interleaved
};
struct ProcessOptions {
    // Run as this user and group, with no supplementary groups.
    std::optional<uid_t> user;
    // RLIMIT_FSIZE in bytes, with SIGXFSZ ignored so a write past it fails.
    std::optional<std::uint64_t> fileSizeLimit;
    // RLIMIT_AS in bytes: the most address space the child may take.
    std::optional<std::uint64_t> addressSpaceLimit;
    // RLIMIT_NOFILE, soft and hard: the most files the child may hold open.
    std::optional<std::uint64_t> openFileLimit;
    std::string workingFolder;
    // Without anonymous temporary files, as on file systems that have none.
    bool noAnonymousFiles = false;
};
// The path of tessary-cli, or empty when the build has none.
std::string CliPath();
ProcessResult RunCli(const std::vector<std::string>& arguments, const ProcessOptions& options = {});
// Starts tessary-cli without waiting; answers its pid.
pid_t StartCli(const std::vector<std::string>& arguments, const std::string& outputFile,
               const ProcessOptions& options = {});
ProcessResult WaitFor(pid_t pid, const std::string& outputFile);

// Lines of a log text.
std::vector<std::string> Lines(const std::string& text);
