// tessary-cli: the batch conversion without a window.
#include <cstdio>

#include "app/cli/CommandLine.h"
#include "app/cli/RunBatch.h"

int main(int argc, char** argv) {
    CommandLine commandLine;
    const int early = ParseCommandLine(argc, argv, commandLine);
    if (early >= 0) {
        return early;
    }
    return commandLine.check ? RunCheck(commandLine, stdout, stderr)
                             : RunConversion(commandLine, stdout, stderr);
}
