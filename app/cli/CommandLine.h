// The command line of tessary-cli, read with CLI11.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::string outputFolder;
    std::vector<std::string> inputs;
    std::string filesFrom;  // a file of further inputs; "-" for standard input
    bool filesFromGiven = false;
    bool nulSeparated = false;  // the names in filesFrom end with NUL, not a line break
    bool recursive = false;
    bool rle = false;
    bool keepAlphaBits = false;
    bool noClobber = false;
    bool dryRun = false;
    bool check = false;
    bool quiet = false;
    unsigned jobs = 0;                // files converted at once; 0: one per core
    bool skipNormal = false;          // leave files already in normal form alone
    bool preserveTimestamps = false;  // the source's times on the output
    std::string failedTo;             // where the failed files' names go; "" for nowhere
    std::string base;                 // destinations keep the path below it; "" for none
};

// Exit statuses; an interrupted run ends with 128 plus the signal's number
// (130 for SIGINT, 143 for SIGTERM). When several apply, the first of
// "could not do its job", "some failed", "not in normal form" is given.
inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitSomeFailed = 1;  // with --check: some could not be read
inline constexpr int kExitUsageError = 2;
inline constexpr int kExitNotDone = 3;    // the log or the list of failures was not written
inline constexpr int kExitNotNormal = 4;  // --check: every file read, some not in normal form

// Every message of the program's own on standard error begins with this.
inline constexpr const char* kProgramPrefix = "tessary-cli: ";

// Reads the arguments into `commandLine`, and the names of --files-from
// after them. Answers -1 when the program should go on, otherwise the
// status to exit with at once (after --help, --version or a usage error,
// whose text has then been printed).
int ParseCommandLine(int argc, char** argv, CommandLine& commandLine);
