// The two things tessary-cli does once its arguments are read.
#pragma once

#include <cstdio>

#include "app/cli/CommandLine.h"

// Converts every input into the output folder; prints the log and then the
// summary line ("3 converted, 1 failed") to `out`. Answers the exit status.
int RunConversion(const CommandLine& commandLine, std::FILE* out, std::FILE* err);

// Reports for every input whether it is in normal form; writes nothing.
int RunCheck(const CommandLine& commandLine, std::FILE* out, std::FILE* err);
