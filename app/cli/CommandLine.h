// The command line of tessary-cli, read with CLI11.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::string outputFolder;
    std::vector<std::string> inputs;
    bool recursive = false;
    bool rle = false;
    bool check = false;
    bool quiet = false;
    unsigned jobs = 0;  // files converted at once; 0: one per core
};

// Exit statuses.
inline constexpr int kExitAllConverted = 0;
inline constexpr int kExitSomeFailed = 1;
inline constexpr int kExitUsageError = 2;

// Reads the arguments into `commandLine`. Answers -1 when the program should
// go on, otherwise the status to exit with at once (after --help, --version
// or a usage error, whose text has then been printed).
int ParseCommandLine(int argc, char** argv, CommandLine& commandLine);
