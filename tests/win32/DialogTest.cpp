// The Win32 dialog under a real window system (Xvfb under wine): the
// template's controls and texts by identifier, the keys that must not close
// it, batches driven through pickers the test answers, and one run of the
// system's own open dialog.
//
// Everything that touches the dialog runs on the dialog's thread: the test
// queues steps that a timer runs from inside the modal loop, one per tick,
// and the last step closes the dialog as the close box would.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Win32TestSupport.h"
#include "app/win32/MainDialog.h"
#include "app/win32/Pickers.h"
#include "app/win32/resource.h"
#include "support/PickerList.h"

namespace {

// Answers from a script; counts how often each question was asked.
class ScriptedPickers : public Pickers {
  public:
    bool PickFiles(HWND, std::string& fileList) override {
        ++fileQuestions;
        if (files.empty()) {
            return false;
        }
        fileList = files.front();
        files.pop_front();
        return !fileList.empty();
    }
    bool PickFolder(HWND, std::string& folder) override {
        ++folderQuestions;
        if (folders.empty()) {
            return false;
        }
        folder = folders.front();
        folders.pop_front();
        return !folder.empty();
    }

    std::deque<std::string> files;    // an empty entry cancels
    std::deque<std::string> folders;  // an empty entry cancels
    int fileQuestions = 0;
    int folderQuestions = 0;
};

// A step returns true when it is done, false to be run again at the next
// tick (to wait for a batch).
using Step = std::function<bool(HWND)>;

class DialogTest : public ::testing::Test {
  protected:
    // Shows the dialog, runs the steps, then closes it with WM_CLOSE.
    INT_PTR RunSteps(std::deque<Step> steps) {
        steps_ = std::move(steps);
        ticks_ = 0;
        MainDialog dialog(pickers);
        dialog_ = &dialog;
        dialog.onCreated = [this](HWND window) {
            ::SetTimer(window, kTimer, 10, &DialogTest::OnTick);
        };
        const INT_PTR result = dialog.Run(::GetModuleHandleA(nullptr));
        dialog_ = nullptr;
        return result;
    }

    static std::string Text(HWND window) {
        std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(window)) + 1, '\0');
        text.resize(static_cast<std::size_t>(
            ::GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
        return text;
    }

    static std::string LogText(HWND dialog) { return Text(::GetDlgItem(dialog, IDC_LOG)); }

    static Step Press() {
        return [](HWND dialog) {
            ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_FIX_FILES, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_FIX_FILES)));
            return true;
        };
    }

    Step WaitForBatch() {
        return [this](HWND) { return !dialog_->IsBatchRunning(); };
    }

    ScriptedPickers pickers;
    MainDialog* dialog_ = nullptr;

  private:
    static constexpr UINT_PTR kTimer = 1;
    static constexpr int kMaxTicks = 3000;  // 30 s: a stuck step fails the test

    static void CALLBACK OnTick(HWND window, UINT, UINT_PTR, DWORD) {
        DialogTest* self = current_;
        if (self->steps_.empty() || ++self->ticks_ > kMaxTicks) {
            EXPECT_TRUE(self->steps_.empty()) << "a step never finished";
            ::KillTimer(window, kTimer);
            ::PostMessageA(window, WM_CLOSE, 0, 0);
            return;
        }
        if (self->steps_.front()(window)) {
            self->steps_.pop_front();
        }
    }

    void SetUp() override { current_ = this; }
    void TearDown() override { current_ = nullptr; }

    static inline DialogTest* current_ = nullptr;
    std::deque<Step> steps_;
    int ticks_ = 0;
};

bool HasStyle(HWND window, LONG_PTR style) {
    return (::GetWindowLongPtrA(window, GWL_STYLE) & style) == style;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

}  // namespace

TEST_F(DialogTest, TemplateGivesTheControlsTextsAndLayout) {
    const INT_PTR result = RunSteps({[](HWND dialog) {
        EXPECT_EQ(Text(dialog), "Tessary");
        EXPECT_TRUE(HasStyle(dialog, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
        EXPECT_FALSE(HasStyle(dialog, WS_MAXIMIZEBOX));
        EXPECT_FALSE(HasStyle(dialog, WS_THICKFRAME));
        EXPECT_TRUE(::GetWindowLongPtrA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);

        const HWND log = ::GetDlgItem(dialog, IDC_LOG);
        EXPECT_NE(log, nullptr);
        EXPECT_EQ(ClassOf(log), "Edit");
        EXPECT_EQ(Text(log), "");
        EXPECT_TRUE(HasStyle(log, WS_VSCROLL | WS_HSCROLL | WS_TABSTOP | ES_MULTILINE |
                                      ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_READONLY));
        DWORD start = 1, end = 1;
        ::SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                       reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, end);  // nothing selected on start

        const HWND button = ::GetDlgItem(dialog, IDC_FIX_FILES);
        EXPECT_NE(button, nullptr);
        EXPECT_EQ(ClassOf(button), "Button");
        EXPECT_EQ(Text(button), "Fix Files...");
        EXPECT_EQ(::GetWindowLongPtrA(button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);

        // Positions in dialog units, as the template gives them.
        const auto unitsToPixels = [dialog](int x, int y, int w, int h) {
            RECT rect{x, y, x + w, y + h};
            ::MapDialogRect(dialog, &rect);
            return rect;
        };
        const auto placed = [dialog](HWND control) {
            RECT rect;
            ::GetWindowRect(control, &rect);
            ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
            return rect;
        };
        RECT client;
        ::GetClientRect(dialog, &client);
        const RECT size = unitsToPixels(0, 0, 317, 212);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
        const RECT logRect = placed(log);
        const RECT logUnits = unitsToPixels(0, 0, 317, 185);
        EXPECT_EQ(logRect.left, 0);
        EXPECT_EQ(logRect.top, 0);
        EXPECT_EQ(logRect.right, logUnits.right);
        EXPECT_EQ(logRect.bottom, logUnits.bottom);
        const RECT buttonRect = placed(button);
        const RECT buttonUnits = unitsToPixels(133, 192, 50, 14);
        EXPECT_EQ(buttonRect.top, buttonUnits.top);
        EXPECT_LE(std::abs(buttonRect.left - (client.right - buttonRect.right)), 2);  // centred
        return true;
    }});
    EXPECT_EQ(result, 0);
}

TEST_F(DialogTest, EscapeAndEnterNeverEndTheDialog) {
    int survived = 0;
    const INT_PTR result = RunSteps({
        [](HWND dialog) {
            const HWND log = ::GetDlgItem(dialog, IDC_LOG);
            for (const WPARAM key : {WPARAM{VK_ESCAPE}, WPARAM{VK_RETURN}}) {
                ::PostMessageA(log, WM_KEYDOWN, key, 0);
                ::PostMessageA(log, WM_KEYUP, key, 0);
            }
            ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            return true;
        },
        [&survived](HWND dialog) {
            survived += ::IsWindow(dialog) && ::IsWindowVisible(dialog);
            return true;
        },
    });
    EXPECT_EQ(survived, 1);
    EXPECT_EQ(result, 0);  // ended by the close message, not by IDCANCEL or IDOK
}

TEST_F(DialogTest, BatchesFillTheLogWithTheWindowsTextsAndEachStartsAfresh) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(source / "b.tga", TopDownImage()));
    const std::string dest = destination.Path();
    const std::vector<std::string> names = {"a.tga", "b.tga"};
    const std::string two = PickerList(source.Path(), names);
    pickers.files = {two, PickerList(source / "b.tga")};
    pickers.folders = {dest, dest};

    RunSteps({
        Press(),
        WaitForBatch(),
        [&](HWND dialog) {
            EXPECT_EQ(LogText(dialog),
                      "a.tga->" + dest + "\\a.tga...Done\r\nb.tga->" + dest + "\\b.tga...Done\r\n");
            return true;
        },
        Press(),
        WaitForBatch(),
        [&](HWND dialog) {
            EXPECT_EQ(LogText(dialog), "b.tga->" + dest + "\\b.tga...Done\r\n");
            DWORD start = 0, end = 0;
            ::SendDlgItemMessageA(dialog, IDC_LOG, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                                  reinterpret_cast<LPARAM>(&end));
            EXPECT_EQ(start, end);  // the log is never left selected
            return true;
        },
    });
    EXPECT_EQ(pickers.fileQuestions, 2);
    EXPECT_EQ(pickers.folderQuestions, 2);
    EXPECT_TRUE(ReadWholeFile(destination / "a.tga") == TopDownImageRewritten());
}

TEST_F(DialogTest, CancellingEitherPickerEndsThePressAndKeepsTheLog) {
    TempFolder source;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    pickers.files = {"", PickerList(source / "a.tga")};
    pickers.folders = {""};

    RunSteps({
        [](HWND dialog) {
            ::SetDlgItemTextA(dialog, IDC_LOG, "previous batch\r\n");
            return true;
        },
        Press(),
        Press(),
        WaitForBatch(),
        [](HWND dialog) {
            EXPECT_EQ(LogText(dialog), "previous batch\r\n");
            return true;
        },
    });
    EXPECT_EQ(pickers.fileQuestions, 2);
    EXPECT_EQ(pickers.folderQuestions, 1);  // not asked after the first cancel
    EXPECT_EQ(source.Entries().size(), 1u);
}

TEST_F(DialogTest, ClosingDuringABatchWaitsForItsCurrentFile) {
    TempFolder source;
    TempFolder destination;
    constexpr int kFiles = 40;
    std::vector<std::string> names;
    for (int i = 0; i < kFiles; ++i) {
        names.push_back(std::to_string(i) + ".tga");
        ASSERT_TRUE(WriteWholeFile(source / names.back(), TopDownImage()));
    }
    pickers.files = {PickerList(source.Path(), names)};
    pickers.folders = {destination.Path()};

    bool runningAtClose = false;
    const INT_PTR result = RunSteps({
        Press(),
        [&](HWND dialog) {
            runningAtClose = dialog_->IsBatchRunning();
            ::PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        },
    });
    EXPECT_EQ(result, 0);
    // Every file written is complete: the batch stopped between files.
    for (const std::string& name : destination.Entries()) {
        EXPECT_TRUE(ReadWholeFile(destination / name) == TopDownImageRewritten()) << name;
    }
    if (runningAtClose) {
        EXPECT_LT(destination.Entries().size(), static_cast<std::size_t>(kFiles));
    }
}

// The system's own open dialog, driven from a second thread the way a user
// would: a name typed into the file name box, then OK. Wine's dialog takes
// only backslashes in a typed path.
namespace {

constexpr int kFileNameBox = 0x47C;  // cmb13, the explorer-style name box

HWND FindOpenDialog(DWORD thread) {
    HWND found = nullptr;
    ::EnumThreadWindows(
        thread,
        [](HWND window, LPARAM result) -> BOOL {
            char name[16] = {};
            ::GetClassNameA(window, name, sizeof name);
            if (std::string(name) == "#32770" && ::IsWindowVisible(window) &&
                ::GetDlgItem(window, kFileNameBox) != nullptr) {
                *reinterpret_cast<HWND*>(result) = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Types `typed` into the open dialog of `thread` once it shows, and presses
// OK. Gives up (cancelling the dialog, if it appeared) after 30 s.
std::thread Answer(DWORD thread, std::string typed, std::atomic<bool>& answered) {
    return std::thread([thread, typed = std::move(typed), &answered] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (const HWND dialog = FindOpenDialog(thread)) {
                ::SendMessageA(::GetDlgItem(dialog, kFileNameBox), WM_SETTEXT, 0,
                               reinterpret_cast<LPARAM>(typed.c_str()));
                ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                               reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDOK)));
                answered = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
}

}  // namespace

TEST(SystemPickersTest, OpenDialogReturnsOnePathOrAFolderAndNames) {
    TempFolder folder;
    ASSERT_TRUE(WriteWholeFile(folder / "one.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(folder / "two.tga", TopDownImage()));
    SystemPickers pickers;
    const DWORD self = ::GetCurrentThreadId();

    std::atomic<bool> answered{false};
    std::string single;
    std::thread typist = Answer(self, folder / "one.tga", answered);
    const bool pickedOne = pickers.PickFiles(nullptr, single);
    typist.join();
    ASSERT_TRUE(answered);
    ASSERT_TRUE(pickedOne);
    EXPECT_EQ(single, PickerList(folder / "one.tga"));

    // Several names at once come back as the folder followed by the names.
    char previous[MAX_PATH];
    ::GetCurrentDirectoryA(MAX_PATH, previous);
    ::SetCurrentDirectoryA(folder.Path().c_str());
    answered = false;
    std::string several;
    typist = Answer(self, "\"one.tga\" \"two.tga\"", answered);
    const bool pickedTwo = pickers.PickFiles(nullptr, several);
    typist.join();
    ::SetCurrentDirectoryA(previous);
    ASSERT_TRUE(answered);
    ASSERT_TRUE(pickedTwo);
    const std::vector<std::string> names = {"one.tga", "two.tga"};
    EXPECT_EQ(several, PickerList(folder.Path(), names));
}
