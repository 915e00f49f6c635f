// tessary-cli.exe run as a process: it expands wildcards itself, as Windows
// programs must, and answers "/?" with its help.
#include <gtest/gtest.h>

#include <string>

#include "Win32TestSupport.h"

namespace {

struct CliRun {
    DWORD status = 0xFFFFFFFF;
    std::string out;
};

// tessary-cli.exe, found from this program's own folder.
std::string CliPath() {
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    path.erase(path.find_last_of('\\') + 1);
    for (const char c : std::string(TESSARY_CLI_FROM_TESTS)) {
        path.push_back(c == '/' ? '\\' : c);
    }
    return path;
}

// Runs the program in `folder` with `arguments` as one command line, its
// standard output going to a file in the folder.
CliRun RunCli(const TempFolder& folder, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const std::string outPath = folder / "out.txt";
    const HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    std::string commandLine = "\"";
    commandLine.append(CliPath()).append("\" ").append(arguments);
    PROCESS_INFORMATION process{};
    CliRun run;
    if (::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         folder.Path().c_str(), &startup, &process)) {
        ::WaitForSingleObject(process.hProcess, 60000);
        ::GetExitCodeProcess(process.hProcess, &run.status);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(out);
    const Bytes text = ReadWholeFile(outPath);
    run.out.assign(text.begin(), text.end());
    ::DeleteFileA(outPath.c_str());
    return run;
}

}  // namespace

TEST(CliWin32, WildcardsAreExpandedAndSlashQuestionMarkShowsTheHelp) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(folder / "b.tga", TopDownImage()));

    const CliRun converted = RunCli(folder, "-j 1 -o fixed *.tga");
    const CliRun help = RunCli(folder, "/?");

    EXPECT_EQ(converted.status, 0u) << converted.out;
    EXPECT_EQ(
        converted.out,
        "a.tga->fixed\\a.tga...Done\r\nb.tga->fixed\\b.tga...Done\r\n2 converted, 0 failed\r\n");
    EXPECT_TRUE(ReadWholeFile(folder / "fixed\\b.tga") == TopDownImageRewritten());
    EXPECT_EQ(help.status, 0u);
    EXPECT_EQ(help.out.rfind("Usage: tessary-cli", 0), 0u) << help.out;
}
