// Drives a running tessary.exe from another process, as a person would, for
// the screenshot script. One step per run:
//
//   tessary-screenshot-driver pick FOLDER     types FOLDER into the folder
//                                             picker and accepts it
//   tessary-screenshot-driver lines N         waits until the log holds N
//                                             lines (the batch is running)
//   tessary-screenshot-driver idle            waits until the batch is over
//
// The last two print the dialog's place on the screen as "x y width height".
#include <windows.h>

#include <richedit.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr int kLog = 1000;
constexpr int kFixFiles = 1001;
constexpr int kOpenFolder = 1004;
constexpr int kFileNameBox = 0x480;  // edt1 of the folder picker

template <typename F>
auto WaitFor(F&& probe, int seconds = 60) -> decltype(probe()) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto found = probe()) {
            return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

// Tessary's window: a dialog holding the log, whatever its title says.
HWND FindMainDialog() {
    HWND found = nullptr;
    ::EnumWindows(
        [](HWND window, LPARAM result) -> BOOL {
            char name[16] = {};
            ::GetClassNameA(window, name, sizeof name);
            if (std::string(name) == "#32770" && ::GetDlgItem(window, kLog) != nullptr &&
                ::GetDlgItem(window, kFixFiles) != nullptr) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

std::string Text(HWND window) {
    static char text[256];
    text[0] = '\0';
    ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

int PrintPlace(HWND dialog) {
    RECT rect;
    ::GetWindowRect(dialog, &rect);
    std::printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                rect.bottom - rect.top);
    return 0;
}

int Fail(const char* what) {
    std::fprintf(stderr, "tessary-screenshot-driver: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string step = argc > 1 ? argv[1] : "";
    if (step == "pick" && argc == 3) {
        const HWND picker =
            WaitFor([] { return ::FindWindowA("#32770", "Select destination folder"); });
        if (picker == nullptr) {
            return Fail("the folder picker did not appear");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ::SendMessageA(::GetDlgItem(picker, kFileNameBox), WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(argv[2]));
        ::PostMessageA(picker, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(picker, IDOK)));
        return 0;
    }
    const HWND dialog = WaitFor(FindMainDialog);
    if (dialog == nullptr) {
        return Fail("the Tessary window did not appear");
    }
    const HWND log = ::GetDlgItem(dialog, kLog);
    if (step == "lines" && argc == 3) {
        const int wanted = std::atoi(argv[2]);
        // The pane's own count, not its text: cheap enough to ask often.
        if (!WaitFor([&] { return ::SendMessageA(log, EM_GETLINECOUNT, 0, 0) > wanted; }, 300)) {
            return Fail("the batch did not get that far");
        }
        return PrintPlace(dialog);
    }
    if (step == "idle") {
        if (!WaitFor(
                [&] {
                    return Text(dialog) == "Tessary" &&
                           ::IsWindowVisible(::GetDlgItem(dialog, kOpenFolder));
                },
                300)) {
            return Fail("the batch did not end");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return PrintPlace(dialog);
    }
    return Fail("usage: tessary-screenshot-driver pick FOLDER | lines N | idle");
}
