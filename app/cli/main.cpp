// tessary-cli: the batch conversion without a window.
#include <cstdio>
#include <cstring>

#include "app/cli/CommandLine.h"
#include "app/cli/RunBatch.h"

#ifdef _WIN32
// Windows leaves wildcards in arguments for each program to expand; the
// runtime does it for us when asked by this variable.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // "/?" is how Windows programs are asked for their help.
    static char help[] = "--help";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/?") == 0) {
            argv[i] = help;
        }
    }
#endif
    CommandLine commandLine;
    const int early = ParseCommandLine(argc, argv, commandLine);
    if (early >= 0) {
        return early;
    }
    return commandLine.check ? RunCheck(commandLine, stdout, stderr)
                             : RunConversion(commandLine, stdout, stderr);
}
