// tessary-cli.exe run as a process: it expands wildcards itself, as Windows
// programs must, answers "/?" with its help, takes every name the system
// has, however deep, and tells names apart as the file system does.
#include <gtest/gtest.h>

#include <string>

#include "Win32TestSupport.h"
#include "files/FolderEntries.h"
#include "files/SystemPath.h"

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

// Runs the program in `folder` with `arguments` (UTF-8) as one command line,
// its standard output going to a file in the folder.
CliRun RunCli(const TempFolder& folder, const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const std::string outPath = folder / "out.txt";
    const HANDLE out = ::CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    std::string quoted = "\"";
    quoted.append(CliPath()).append("\" ").append(arguments);
    std::wstring commandLine = Files::WideText(quoted);
    PROCESS_INFORMATION process{};
    CliRun run;
    if (::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         Files::WideText(folder.Path()).c_str(), &startup, &process)) {
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

// Removes what a test made below `path`, through the wide calls that reach
// past the classic path limit.
void RemoveTree(const std::string& path) {
    std::vector<Files::FolderEntry> entries;
    std::string reason;
    Files::ListFolder(path, entries, reason);
    for (const Files::FolderEntry& entry : entries) {
        const std::string below = path + "\\" + entry.name;
        if (entry.type == Files::FolderEntry::Type::Folder) {
            RemoveTree(below);
        } else {
            ::DeleteFileW(Files::WidePath(below).c_str());
        }
    }
    ::RemoveDirectoryW(Files::WidePath(path).c_str());
}

}  // namespace

TEST(CliWin32, NamesOutsideTheCodePageConvertAsArgumentsThroughWildcardsAndBelowFolders) {
    TempFolder folder;
    const std::vector<std::string> names = {"emoji😀.tga", "Ünïcödé.tga", "日本語.tga"};
    ASSERT_TRUE(::CreateDirectoryW(Files::WideText(folder / "src").c_str(), nullptr));
    std::string named;
    for (const std::string& name : names) {
        WriteBytes(Files::SystemPath(folder / ("src\\" + name)), TopDownImage());
        named += " \"src\\" + name + "\"";
    }
    struct Case {
        std::string out;
        std::string arguments;
        std::string shownFolder;  // how the log names each input's folder
    };
    for (const Case& run : {Case{"named", named, "src\\"}, Case{"wild", " src\\*.tga", "src\\"},
                            Case{"below", " -r src", ""}}) {
        const std::string& out = run.out;
        std::string expected;
        for (const std::string& name : names) {
            expected += run.shownFolder + name + "->" + out + "\\" + name + "...Done\r\n";
        }
        EXPECT_EQ(RunCli(folder, "-j 1 -o " + out + run.arguments).out,
                  expected + "3 converted, 0 failed\r\n");
        for (const std::string& name : names) {
            EXPECT_TRUE(ReadBytes(Files::SystemPath(folder / (out + "\\" + name))) ==
                        TopDownImageRewritten())
                << run.arguments;
        }
    }
}

TEST(CliWin32, NamesThatDifferInCaseClashAndDeepTreesAreConverted) {
    TempFolder folder;
    ASSERT_TRUE(::CreateDirectoryA((folder / "A").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((folder / "B").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(folder / "A\\X.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(folder / "B\\x.tga", TopDownImage()));
    const CliRun clash = RunCli(folder, "-j 1 -o o8 A\\X.tga B\\x.tga");
    EXPECT_EQ(clash.status, 1u);
    EXPECT_EQ(clash.out.find("A\\X.tga->o8\\X.tga...Done\r\nB\\x.tga->o8\\x.tga...Error: "), 0u)
        << clash.out;

    // Twelve folders of 33 characters: past the classic limit of 260.
    std::string deep = folder / "deep";
    std::string relative;
    for (int level = 0; level < 12; ++level) {
        ASSERT_TRUE(::CreateDirectoryW(Files::WidePath(deep).c_str(), nullptr)) << deep.size();
        const std::string part = "folder" + std::to_string(10 + level) + std::string(25, 'x');
        deep += "\\" + part;
        relative += part + "\\";
    }
    ASSERT_TRUE(::CreateDirectoryW(Files::WidePath(deep).c_str(), nullptr));
    WriteBytes(Files::WidePath(deep + "\\x.tga"), TopDownImage());
    const CliRun below = RunCli(folder, "-r -o out deep");
    EXPECT_EQ(below.status, 0u) << below.out;
    EXPECT_EQ(below.out.substr(below.out.size() - 23), "1 converted, 0 failed\r\n");
    EXPECT_TRUE(ReadBytes(Files::WidePath(folder / ("out\\" + relative + "x.tga"))) ==
                TopDownImageRewritten());
    RemoveTree(folder / "deep");
    RemoveTree(folder / "out");
}

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
