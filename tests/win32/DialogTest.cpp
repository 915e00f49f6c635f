// The Win32 dialog under a real window system (Xvfb under wine): the
// template's controls and texts by identifier, the keys that must not close
// it, batches driven through pickers the test answers (progress, Stop, the
// summary, the replace and quit questions), and one run of the system's own
// open dialog.
//
// Everything that touches the dialog runs on the dialog's thread: the test
// queues steps that a timer runs from inside the modal loop, one per tick,
// and the last step closes the dialog as the close box would.
#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
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
        dialog.SetJobs(jobs);
        dialog.onProgress = onProgress;
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

    // Waits for the question to show, then presses `answer` on it (IDOK for
    // the first answer, IDCANCEL for the default).
    static Step Answer(int answer, std::string* text = nullptr) {
        return [answer, text](HWND) {
            const HWND question = OpenQuestion();
            if (question == nullptr) {
                return false;
            }
            if (text != nullptr) {
                *text = Text(::GetDlgItem(question, IDC_QUESTION_TEXT)) + "|" +
                        Text(::GetDlgItem(question, IDC_QUESTION_DETAIL)) + "|" +
                        Text(::GetDlgItem(question, IDOK)) + "|" +
                        Text(::GetDlgItem(question, IDCANCEL));
                // The cautious answer is the default and has the focus.
                EXPECT_EQ(LOWORD(::SendMessageA(question, DM_GETDEFID, 0, 0)), IDCANCEL);
                EXPECT_EQ(::GetFocus(), ::GetDlgItem(question, IDCANCEL));
            }
            ::PostMessageA(question, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                           reinterpret_cast<LPARAM>(::GetDlgItem(question, answer)));
            return true;
        };
    }

    static HWND OpenQuestion() {
        HWND found = nullptr;
        ::EnumThreadWindows(
            ::GetCurrentThreadId(),
            [](HWND window, LPARAM result) -> BOOL {
                if (::IsWindowVisible(window) &&
                    ::GetDlgItem(window, IDC_QUESTION_TEXT) != nullptr) {
                    *reinterpret_cast<HWND*>(result) = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
    }

    // `count` copies of TopDownImage() in `folder`, as a picker's list.
    static std::string ManyFiles(const TempFolder& folder, int count) {
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i) {
            names.push_back(std::to_string(i) + ".tga");
            WriteWholeFile(folder / names.back(), TopDownImage());
        }
        return PickerList(folder.Path(), names);
    }

    ScriptedPickers pickers;
    unsigned jobs = 0;
    std::function<void(HWND)> onProgress;
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
        EXPECT_EQ(ClassOf(log), "RichEdit20W");
        EXPECT_EQ(Text(log), "");
        EXPECT_TRUE(HasStyle(log, WS_TABSTOP | ES_MULTILINE | ES_READONLY));
        DWORD start = 1, end = 1;
        ::SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                       reinterpret_cast<LPARAM>(&end));
        EXPECT_EQ(start, end);  // nothing selected on start

        const HWND button = ::GetDlgItem(dialog, IDC_FIX_FILES);
        EXPECT_NE(button, nullptr);
        EXPECT_EQ(ClassOf(button), "Button");
        EXPECT_EQ(Text(button), "&Fix Files...");
        // Shown only during a batch, and after one.
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDC_PROGRESS)));
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDC_OPEN_FOLDER)));
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

TEST_F(DialogTest, BatchesLogEachFileWithFailuresSetApartAndABoldSummary) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(source / "bad.tga", UnsupportedImage()));
    const std::string dest = destination.Path();
    // a.tga named twice is converted once and skipped once, as it is counted
    // on the command line.
    const std::vector<std::string> names = {"a.tga", "bad.tga", "a.tga"};
    pickers.files = {PickerList(source.Path(), names)};
    pickers.folders = {dest};

    RunSteps({
        Press(),
        WaitForBatch(),
        [&](HWND dialog) {
            const std::string log = LogText(dialog);
            const std::string first = "a.tga->" + dest + "\\a.tga...Done\r\n";
            EXPECT_EQ(log.rfind(first + "bad.tgaError: ReadTGA: ", 0), 0u) << log;
            EXPECT_TRUE(log.ends_with("1 converted, 1 failed, 1 skipped\r\n")) << log;
            // The failure in bold red, the summary in bold, the rest plain.
            const auto formatAt = [dialog](std::size_t at) {
                const HWND pane = ::GetDlgItem(dialog, IDC_LOG);
                CHARRANGE range{static_cast<LONG>(at), static_cast<LONG>(at + 1)};
                ::SendMessageA(pane, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
                CHARFORMAT2A format{};
                format.cbSize = sizeof format;
                ::SendMessageA(pane, EM_GETCHARFORMAT, SCF_SELECTION,
                               reinterpret_cast<LPARAM>(&format));
                return format;
            };
            // Rich edit counts a line break as one character.
            const CHARFORMAT2A plain = formatAt(1);
            const CHARFORMAT2A failure = formatAt(first.size() + 1);
            const CHARFORMAT2A summary = formatAt(log.size() - 4 - 2);
            EXPECT_FALSE(plain.dwEffects & CFE_BOLD);
            EXPECT_TRUE(failure.dwEffects & CFE_BOLD);
            EXPECT_EQ(failure.crTextColor, RGB(176, 0, 32));
            EXPECT_TRUE(summary.dwEffects & CFE_BOLD);
            EXPECT_TRUE(summary.dwEffects & CFE_AUTOCOLOR);
            EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_FIX_FILES)), "&Fix Files...");
            EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(dialog, IDC_OPEN_FOLDER)));
            EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(dialog, IDC_PROGRESS)));
            return true;
        },
    });
    EXPECT_TRUE(ReadWholeFile(destination / "a.tga") == TopDownImageRewritten());
}

TEST_F(DialogTest, ProgressCountsTheFilesAndStopLeavesTheRestNotStarted) {
    TempFolder source;
    TempFolder destination;
    pickers.files = {ManyFiles(source, 400)};
    pickers.folders = {destination.Path()};
    jobs = 1;

    std::string button;
    std::string current;
    std::string title;
    int progress = -1;
    // At the first file shown (files go faster than the dialog shows them):
    // the batch's state, then Stop.
    onProgress = [&](HWND dialog) {
        const std::string shown = Text(::GetDlgItem(dialog, IDC_CURRENT_FILE));
        if (!current.empty() || shown.empty()) {
            return;
        }
        current = shown;
        button = Text(::GetDlgItem(dialog, IDC_FIX_FILES));
        title = Text(dialog);
        progress = static_cast<int>(::SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_GETPOS, 0, 0));
        EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(dialog, IDC_PROGRESS)));
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_FIX_FILES, BN_CLICKED), 0);
        EXPECT_EQ(Text(::GetDlgItem(dialog, IDC_FIX_FILES)), "Stopping...");
        EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_FIX_FILES)));
    };
    RunSteps({
        Press(),
        WaitForBatch(),
        [](HWND dialog) {
            const std::string log = LogText(dialog);
            const std::size_t last = log.rfind("\r\n", log.size() - 3);
            EXPECT_NE(log.find(" converted, 0 failed, ", last), std::string::npos) << log;
            EXPECT_EQ(log.substr(log.size() - 14), " not started\r\n");
            EXPECT_EQ(Text(dialog), "Tessary");
            return true;
        },
    });
    EXPECT_EQ(button, "&Stop");
    EXPECT_NE(current.find(" of 400: "), std::string::npos) << current;
    EXPECT_NE(title.find("% - Tessary"), std::string::npos) << title;
    // The bar counts the files done before the one shown, in thousandths.
    EXPECT_EQ(progress, (std::atoi(current.c_str()) - 1) * 1000 / 400);
    EXPECT_LT(destination.Entries().size(), 400u);
}

TEST_F(DialogTest, ReplacingAsksFirstAndCancelWritesNothing) {
    TempFolder source;
    TempFolder destination;
    ASSERT_TRUE(WriteWholeFile(source / "a.tga", TopDownImage()));
    ASSERT_TRUE(WriteWholeFile(destination / "a.tga", UnsupportedImage()));
    const std::string dest = destination.Path();
    pickers.files = {PickerList(source / "a.tga"), PickerList(source / "a.tga"),
                     PickerList(source / "a.tga")};
    pickers.folders = {dest, dest, source.Path()};

    std::string asked;
    std::string inPlace;
    bool untouched = false;
    RunSteps({
        Press(),
        Answer(IDCANCEL, &asked),
        [&](HWND dialog) {
            untouched = ReadWholeFile(destination / "a.tga") == UnsupportedImage();
            EXPECT_FALSE(dialog_->IsBatchRunning());
            EXPECT_EQ(LogText(dialog), "");
            return true;
        },
        Press(),
        Answer(IDOK),
        WaitForBatch(),
        Press(),
        Answer(IDCANCEL, &inPlace),
    });
    EXPECT_TRUE(untouched);
    EXPECT_EQ(asked, "1 file in " + dest +
                         " will be replaced.|They are not the picked files but files already in "
                         "that folder, perhaps from an earlier batch.|&Replace|Cancel");
    EXPECT_EQ(inPlace.substr(inPlace.find('|')),
              "|They are the originals: each is repaired in place, and its present contents "
              "are lost.|&Replace|Cancel");
    EXPECT_TRUE(ReadWholeFile(destination / "a.tga") == TopDownImageRewritten());
    EXPECT_TRUE(ReadWholeFile(source / "a.tga") == TopDownImage());
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

TEST_F(DialogTest, ClosingDuringABatchAsksAndStopsOnlyWhenTold) {
    TempFolder source;
    TempFolder destination;
    constexpr int kFiles = 1000;
    pickers.files = {ManyFiles(source, kFiles)};
    pickers.folders = {destination.Path()};
    jobs = 1;

    std::string asked;
    bool keptRunning = false;
    bool runningAtQuit = false;
    const INT_PTR result = RunSteps({
        Press(),
        [](HWND dialog) {
            ::PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        },
        Answer(IDCANCEL, &asked),
        [&](HWND dialog) {
            keptRunning = ::IsWindow(dialog) && dialog_->IsBatchRunning();
            ::PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        },
        [&](HWND) {
            runningAtQuit = OpenQuestion() != nullptr && dialog_->IsBatchRunning();
            return OpenQuestion() != nullptr;
        },
        Answer(IDOK),
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(asked,
              "A batch is running. Stop it and quit?|The files being converted are finished "
              "first; the others are not started.|Stop and &Quit|&Keep Converting");
    // Every file written is complete: the batch stopped between files.
    for (const std::string& name : destination.Entries()) {
        EXPECT_TRUE(ReadWholeFile(destination / name) == TopDownImageRewritten()) << name;
    }
    EXPECT_TRUE(keptRunning);
    if (runningAtQuit) {
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
