// Drives a running tessary.exe from another process, as a person would, for
// the screenshot script: presses "Fix Files...", types the folder and the
// names into the open dialog, accepts the folder browser's choice, waits for
// the log to report every file and prints the dialog's place on the screen
// as "x y width height".
//
// Usage: tessary-screenshot-driver FOLDER NAME...   (FOLDER with backslashes)
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

constexpr int kFixFiles = 1001;
constexpr int kLog = 1000;
constexpr int kFileNameBox = 0x47C;  // cmb13 of the explorer-style open dialog

template <typename F>
auto WaitFor(F&& probe, int seconds = 30) -> decltype(probe()) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto found = probe()) {
            return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

struct Search {
    HWND except;
    bool wantNameBox;
    HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    char name[16] = {};
    ::GetClassNameA(window, name, sizeof name);
    if (window == search->except || std::string(name) != "#32770" || !::IsWindowVisible(window)) {
        return TRUE;
    }
    const bool hasNameBox = ::GetDlgItem(window, kFileNameBox) != nullptr;
    const bool hasTree = ::FindWindowExA(window, nullptr, WC_TREEVIEWA, nullptr) != nullptr;
    if (search->wantNameBox ? hasNameBox : (hasTree && !hasNameBox)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindPicker(DWORD thread, HWND main, bool openDialog) {
    Search search{main, openDialog, nullptr};
    ::EnumThreadWindows(thread, &Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void TypeAndAccept(HWND picker, const std::string& text) {
    ::SendMessageA(::GetDlgItem(picker, kFileNameBox), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(text.c_str()));
    ::PostMessageA(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(picker, IDOK)));
}

std::string LogText(HWND dialog) {
    char text[65536] = {};
    ::SendDlgItemMessageA(dialog, kLog, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

int Fail(const char* what) {
    std::fprintf(stderr, "tessary-screenshot-driver: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Fail("usage: tessary-screenshot-driver FOLDER NAME...");
    }
    const HWND dialog = WaitFor([] { return ::FindWindowA("#32770", "Tessary"); });
    if (dialog == nullptr) {
        return Fail("the Tessary window did not appear");
    }
    const DWORD thread = ::GetWindowThreadProcessId(dialog, nullptr);
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFixFiles, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kFixFiles)));

    HWND open = WaitFor([&] { return FindPicker(thread, dialog, true); });
    if (open == nullptr) {
        return Fail("the open dialog did not appear");
    }
    // First into the folder, then all the names at once.
    TypeAndAccept(open, argv[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::string names;
    for (int i = 2; i < argc; ++i) {
        names += std::string(names.empty() ? "" : " ") + "\"" + argv[i] + "\"";
    }
    TypeAndAccept(open, names);

    HWND browser = WaitFor([&] { return FindPicker(thread, dialog, false); });
    if (browser == nullptr) {
        return Fail("the folder browser did not appear");
    }
    // The browser's first item is the desktop, a folder of the file system.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const HWND tree = ::FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
    const auto root = static_cast<LPARAM>(::SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, root);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ::PostMessageA(browser, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(browser, IDOK)));

    const int expected = argc - 2;
    const bool finished = WaitFor([&] {
        const std::string log = LogText(dialog);
        int lines = 0;
        for (std::size_t at = log.find("\r\n"); at != std::string::npos;
             at = log.find("\r\n", at + 2)) {
            ++lines;
        }
        return lines >= expected;
    });
    if (!finished) {
        return Fail("the batch did not report every file");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RECT rect;
    ::GetWindowRect(dialog, &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    return 0;
}
