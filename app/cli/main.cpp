// tessary-cli: the batch conversion without a window.
#include <cstdio>
#include <cstring>

#include "app/cli/CommandLine.h"
#include "app/cli/RunBatch.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

#include "files/SystemPath.h"

// Windows leaves wildcards in arguments for each program to expand; the
// runtime does it for us when asked by this variable.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

int Run(int argc, char** argv) {
    CommandLine commandLine;
    const int early = ParseCommandLine(argc, argv, commandLine);
    if (early >= 0) {
        return early;
    }
    return commandLine.check ? RunCheck(commandLine, stdout, stderr)
                             : RunConversion(commandLine, stdout, stderr);
}

}  // namespace

#ifdef _WIN32
// The arguments arrive in UTF-16, so that every name survives whatever the
// code page; inside, names are UTF-8 and become UTF-16 again at each system
// call. The console is switched to UTF-8 for as long as the log is written.
int wmain(int argc, wchar_t** wideArgv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        arguments.push_back(Files::Utf8Text(wideArgv[i]));
        // "/?" is how Windows programs are asked for their help.
        if (i > 0 && arguments.back() == "/?") {
            arguments.back() = "--help";
        }
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const UINT previousCodePage = ::GetConsoleOutputCP();
    ::SetConsoleOutputCP(CP_UTF8);
    const int status = Run(argc, argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    if (previousCodePage != 0) {
        ::SetConsoleOutputCP(previousCodePage);
    }
    return status;
}
#else
int main(int argc, char** argv) {
    return Run(argc, argv);
}
#endif
