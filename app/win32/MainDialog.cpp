#include "app/win32/MainDialog.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "app/win32/ConvertFiles.h"
#include "app/win32/QuestionBox.h"
#include "app/win32/Replacements.h"
#include "app/win32/resource.h"
#include "batch/AppendLog.h"
#include "batch/LogSink.h"
#include "batch/ShownName.h"
#include "batch/SummaryLine.h"
#include "files/SystemPath.h"

using Batch::AppendLog;
using Batch::BatchPlan;
using Batch::ConvertJobs;
using Batch::ConvertOptions;
using Batch::ConvertSummary;
using Batch::FileOutcome;
using Batch::FileProgress;
using Batch::LogSink;
using Batch::NotStarted;
using Batch::ShownName;
using Batch::SummaryLine;
using Files::Utf8Text;
using Files::WideText;

namespace {

using Kind = BatchOutbox::Kind;

// The system's icons, by number: the text macros would be the ANSI ones.
constexpr WORD kWarningIcon = 32515;
constexpr WORD kQuestionIcon = 32514;

// A red that keeps its contrast on the pane's white.
constexpr COLORREF kFailureColour = RGB(176, 0, 32);

// Posts `owned` to the dialog, which takes it over; dropped when the dialog
// can no longer receive it.
template <typename T>
void PostOwned(HWND dialog, UINT message, WPARAM wParam, std::unique_ptr<T> owned) {
    if (::PostMessageW(dialog, message, wParam, reinterpret_cast<LPARAM>(owned.get()))) {
        owned.release();
    }
}

// Hands what the batch reports to the dialog's thread, which alone touches
// the window, through the outbox.
class PostingLog : public LogSink {
  public:
    PostingLog(HWND dialog, BatchOutbox& outbox) : dialog_(dialog), outbox_(outbox) {}

    void Clear() override {
        Put([](BatchOutbox& box) {
            box.clear = true;
            box.texts.clear();
        });
    }
    // Texts outside any file's are the batch's own failures.
    void Append(std::string_view text) override { Post(text, Kind::Failure); }
    void AppendFile(std::string_view text, FileOutcome outcome) override {
        Post(text, outcome == FileOutcome::Failed ? Kind::Failure : Kind::Plain);
    }
    void Post(std::string_view text, Kind kind) {
        Put([&](BatchOutbox& box) { box.texts.emplace_back(std::string(text), kind); });
    }
    void Progress(const FileProgress& file) {
        Put([&](BatchOutbox& box) {
            box.progress = {file.index + 1, file.count, std::string(file.name)};
        });
    }

  private:
    template <typename Change>
    void Put(Change change) {
        const std::lock_guard<std::mutex> hold(outbox_.lock);
        change(outbox_);
        if (!outbox_.posted) {
            outbox_.posted = ::PostMessageW(dialog_, kOutboxMessage, 0, 0) != 0;
        }
    }

    HWND dialog_;
    BatchOutbox& outbox_;
};

std::string ProblemText(const BatchPlan::Problem& problem) {
    std::string text = ShownName(problem.folder);
    AppendLog(text, ": Unable to open folder (%s)\n", problem.reason.c_str());
    return text;
}

// The log pane: a multi-line edit control in a dialog answers Escape by
// posting WM_CLOSE to the dialog, so the pane swallows the key; and while it
// is empty it shows how to begin, in grey.
LRESULT CALLBACK LogPaneProcedure(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(pane, GWLP_USERDATA));
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE) {
        return 0;
    }
    const LRESULT result = ::CallWindowProcW(original, pane, message, wParam, lParam);
    if (message == WM_PAINT && ::GetWindowTextLengthW(pane) == 0) {
        const HDC dc = ::GetDC(pane);
        const HGDIOBJ font = ::SelectObject(
            dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(::GetParent(pane), WM_GETFONT, 0, 0)));
        ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
        ::SetBkMode(dc, TRANSPARENT);
        RECT area;
        ::GetClientRect(pane, &area);
        ::InflateRect(&area, -4, -2);
        ::DrawTextW(dc, kEmptyLogHint, -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(dc, font);
        ::ReleaseDC(pane, dc);
    }
    return result;
}

void PrepareLogPane(HWND pane) {
    const LONG_PTR original = ::GetWindowLongPtrW(pane, GWLP_WNDPROC);
    ::SetWindowLongPtrW(pane, GWLP_USERDATA, original);
    ::SetWindowLongPtrW(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogPaneProcedure));
    // The log of a large batch is longer than a rich edit control holds
    // unless told otherwise.
    ::SendMessageW(pane, EM_EXLIMITTEXT, 0, 0x7FFFFFFF);
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

MainDialog::~MainDialog() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

INT_PTR MainDialog::Run(HINSTANCE instance) {
    // The log pane's class, and the progress bar's.
    ::LoadLibraryW(L"riched20.dll");
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    ended_ = false;
    const HWND dialog =
        ::CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, &MainDialog::Procedure,
                             reinterpret_cast<LPARAM>(this));
    if (dialog == nullptr) {
        return -1;
    }
    // A loop of our own rather than a modal one, so that Ctrl+Q reaches the
    // dialog from any of its controls.
    const HACCEL keys = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDA_MAIN));
    MSG message;
    while (!ended_ && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if ((keys != nullptr && ::TranslateAcceleratorW(dialog, keys, &message)) ||
            ::IsDialogMessageW(dialog, &message)) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    dialog_ = nullptr;
    return 0;
}

INT_PTR CALLBACK MainDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        self->dialog_ = dialog;
    }
    auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            title_ = WindowText(dialog_);
            PrepareLogPane(::GetDlgItem(dialog_, IDC_LOG));
            ::SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETRANGE32, 0, 1000);
            ::SetFocus(::GetDlgItem(dialog_, IDC_FIX_FILES));
            if (!namedInputs.empty()) {
                PostOwned(dialog_, kFixInputsMessage, 0,
                          std::make_unique<std::vector<std::string>>(UsableInputs(namedInputs)));
            }
            if (onCreated) {
                onCreated(dialog_);
            }
            return FALSE;  // the focus is set
        case WM_CLOSE:
            AskToClose();
            return TRUE;
        case WM_COMMAND:
            return Command(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_DROPFILES:
            OnDrop(reinterpret_cast<HDROP>(wParam));
            return TRUE;
        case kOutboxMessage:
            TakeOutbox();
            return TRUE;
        case kFixInputsMessage: {
            const std::unique_ptr<std::vector<std::string>> inputs(
                reinterpret_cast<std::vector<std::string>*>(lParam));
            FixInputs(*inputs);
            return TRUE;
        }
        case kBatchDoneMessage:
            FinishBatch();
            return TRUE;
        default:
            return FALSE;
    }
}

bool MainDialog::Command(WORD control) {
    switch (control) {
        case IDC_FIX_FILES:
            OnButton();
            return true;
        case IDC_OPEN_FOLDER:
            ::ShellExecuteW(dialog_, L"open", WideText(destination_).c_str(), nullptr, nullptr,
                            SW_SHOWNORMAL);
            return true;
        case IDM_QUIT:
            AskToClose();
            return true;
        case IDOK: {
            // Enter: the focused button, like Space, never a default one.
            const HWND focus = ::GetFocus();
            const int id =
                focus != nullptr && ::GetParent(focus) == dialog_ ? ::GetDlgCtrlID(focus) : 0;
            if ((id == IDC_FIX_FILES || id == IDC_OPEN_FOLDER) && ::IsWindowEnabled(focus)) {
                return Command(static_cast<WORD>(id));
            }
            return true;
        }
        default:
            // Escape arrives as IDCANCEL: it never ends the dialog. Only the
            // close box and Ctrl+Q do.
            return control == IDCANCEL;
    }
}

void MainDialog::OnButton() {
    if (!running_) {
        FixFiles();
        return;
    }
    stop_ = true;
    const HWND button = ::GetDlgItem(dialog_, IDC_FIX_FILES);
    if (::GetFocus() == button) {
        ::SetFocus(::GetDlgItem(dialog_, IDC_LOG));  // a disabled button keeps no focus
    }
    ::SetWindowTextW(button, L"Stopping...");
    ::EnableWindow(button, FALSE);
}

void MainDialog::FixFiles() {
    if (running_) {
        return;
    }
    std::string fileList;
    if (!pickers_.PickFiles(dialog_, fileList)) {
        return;
    }
    FixInputs(InputsFromFileList(fileList.c_str()));
}

void MainDialog::FixInputs(const std::vector<std::string>& inputs) {
    if (running_ || closePending_) {
        return;
    }
    if (const BatchPlan found = PlanInputs(inputs, ""); found.jobs.empty()) {
        for (const BatchPlan::Problem& problem : found.problems) {
            AppendToLog(ProblemText(problem), Kind::Failure);
        }
        AppendToLog(std::string(kNothingToFixText) + "\n", Kind::Failure);
        ::SendDlgItemMessageW(dialog_, IDC_LOG, EM_SCROLLCARET, 0, 0);
        return;
    }
    std::string destination;
    if (!pickers_.PickFolder(dialog_, destination) || closePending_) {
        return;
    }
    // Planned whole before anything is written, so that the question counts
    // every file the batch would write over as the folders stand now.
    BatchPlan plan = PlanInputs(inputs, destination);
    const Batch::Replacements replacements = Batch::FindReplacements(plan);
    if (replacements.count != 0 &&
        !Ask(dialog_, title_.c_str(), ReplaceQuestion(replacements, destination), kWarningIcon)) {
        return;
    }
    destination_ = destination;
    StartBatch(std::move(plan));
}

void MainDialog::StartBatch(BatchPlan plan) {
    stop_ = false;
    running_ = true;
    SetBatchView(true);
    const HWND dialog = dialog_;
    worker_ = std::thread([this, dialog, jobs = jobs_, plan = std::move(plan)] {
        PostingLog log(dialog, outbox_);
        ConvertOptions options;
        options.stop = &stop_;
        options.jobs = jobs;
        options.createFolders = true;  // a folder's subfolders reappear below the destination
        options.progress = [&log](const FileProgress& file) { log.Progress(file); };
        log.Clear();
        // Folders that could not be read are failures of their own, as on
        // the command line, reported before the files.
        for (const BatchPlan::Problem& problem : plan.problems) {
            log.AppendFile(ProblemText(problem), FileOutcome::Failed);
        }
        ConvertSummary summary;
        try {
            summary = ConvertJobs(log, plan.jobs, options);
        } catch (const std::exception& e) {
            // Only what escapes the batch itself (memory for the plan), so
            // that the dialog is told the batch is over.
            log.Append(std::string("Error: ") + e.what() + "\n");
        }
        summary.failed += plan.problems.size();
        const std::size_t planned = plan.jobs.size() + plan.problems.size();
        log.Post(SummaryLine(summary, NotStarted(summary, planned)) + "\n", Kind::Summary);
        ::PostMessageW(dialog, kBatchDoneMessage, 0, 0);
    });
}

void MainDialog::TakeOutbox() {
    bool clear = false;
    std::vector<std::pair<std::string, Kind>> texts;
    BatchOutbox::Progress progress;
    {
        const std::lock_guard<std::mutex> hold(outbox_.lock);
        std::swap(clear, outbox_.clear);
        texts.swap(outbox_.texts);
        std::swap(progress, outbox_.progress);
        outbox_.posted = false;
    }
    if (clear) {
        ::SetDlgItemTextW(dialog_, IDC_LOG, L"");
        ::InvalidateRect(::GetDlgItem(dialog_, IDC_LOG), nullptr, TRUE);
    }
    // Consecutive texts of one kind go in as one, and the pane is drawn once:
    // a rich edit control is slow to take many small insertions.
    const HWND pane = ::GetDlgItem(dialog_, IDC_LOG);
    ::SendMessageW(pane, WM_SETREDRAW, FALSE, 0);
    for (std::size_t first = 0; first < texts.size();) {
        std::string run = std::move(texts[first].first);
        std::size_t next = first + 1;
        for (; next < texts.size() && texts[next].second == texts[first].second; ++next) {
            run += texts[next].first;
        }
        AppendToLog(run, texts[first].second);
        first = next;
    }
    ::SendMessageW(pane, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(pane, nullptr, TRUE);
    ::SendMessageW(pane, EM_SCROLLCARET, 0, 0);
    if (progress.position != 0 && running_) {
        OnProgress(progress.position, progress.count, progress.name);
    }
}

void MainDialog::FinishBatch() {
    if (worker_.joinable()) {
        worker_.join();
    }
    TakeOutbox();  // the summary, should its message still be on its way
    running_ = false;
    const bool hadFocus = ::GetFocus() == ::GetDlgItem(dialog_, IDC_LOG) && stop_;
    SetBatchView(false);
    if (hadFocus) {
        ::SetFocus(::GetDlgItem(dialog_, IDC_FIX_FILES));
    }
    if (onBatchFinished) {
        onBatchFinished(dialog_);
    }
    if (closePending_) {
        closePending_ = false;
        End();
    }
}

void MainDialog::AskToClose() {
    if (!running_) {
        End();
        return;
    }
    if (closePending_ || asking_) {
        return;
    }
    asking_ = true;
    const bool quit = Ask(dialog_, title_.c_str(), QuitQuestion(), kQuestionIcon);
    asking_ = false;
    if (!quit) {
        return;
    }
    if (!running_) {
        End();  // the batch ended while the question was open
        return;
    }
    closePending_ = true;
    OnButton();
}

void MainDialog::End() {
    if (ended_) {
        return;
    }
    ended_ = true;
    ::DestroyWindow(dialog_);
    // Wakes the loop, which then sees the dialog has ended.
    ::PostMessageW(nullptr, WM_NULL, 0, 0);
}

void MainDialog::OnDrop(HDROP drop) {
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(Utf8Text(path));
    }
    ::DragFinish(drop);
    if (running_) {
        return;
    }
    // The folder is asked for once the drop has finished, not inside it.
    PostOwned(dialog_, kFixInputsMessage, 0,
              std::make_unique<std::vector<std::string>>(UsableInputs(paths)));
}

void MainDialog::OnProgress(std::size_t position, std::size_t count, const std::string& name) {
    // The bar counts the files done, in thousandths so that any count fits.
    ::SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS,
                          static_cast<WPARAM>((position - 1) * 1000 / count), 0);
    const std::string text =
        std::to_string(position) + " of " + std::to_string(count) + ": " + ShownName(name);
    ::SetDlgItemTextW(dialog_, IDC_CURRENT_FILE, WideText(text).c_str());
    const std::wstring title = std::to_wstring((position - 1) * 100 / count) + L"% - " + title_;
    ::SetWindowTextW(dialog_, title.c_str());
    if (onProgress) {
        onProgress(dialog_);
    }
}

void MainDialog::SetBatchView(bool running) {
    const HWND button = ::GetDlgItem(dialog_, IDC_FIX_FILES);
    ::SetWindowTextW(button, running ? L"&Stop" : L"&Fix Files...");
    ::EnableWindow(button, TRUE);
    ::SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    ::SetDlgItemTextW(dialog_, IDC_CURRENT_FILE, L"");
    ::ShowWindow(::GetDlgItem(dialog_, IDC_PROGRESS), running ? SW_SHOW : SW_HIDE);
    ::ShowWindow(::GetDlgItem(dialog_, IDC_CURRENT_FILE), running ? SW_SHOW : SW_HIDE);
    ::ShowWindow(::GetDlgItem(dialog_, IDC_OPEN_FOLDER), running ? SW_HIDE : SW_SHOW);
    ::SetWindowTextW(dialog_, title_.c_str());
}

void MainDialog::AppendToLog(const std::string& text, Kind kind) {
    const HWND log = ::GetDlgItem(dialog_, IDC_LOG);
    // Always at the end, wherever the user has put the caret meanwhile.
    CHARRANGE end{-1, -1};
    ::SendMessageW(log, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    format.dwMask = CFM_BOLD | CFM_COLOR;
    format.dwEffects = kind == Kind::Plain     ? CFE_AUTOCOLOR
                       : kind == Kind::Summary ? CFE_BOLD | CFE_AUTOCOLOR
                                               : CFE_BOLD;
    format.crTextColor = kFailureColour;
    ::SendMessageW(log, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    // The log's lines end in "\n"; the pane keeps the system's "\r\n", which
    // a copy of the log then carries.
    std::wstring wide;
    for (const wchar_t ch : WideText(text)) {
        if (ch == L'\n') {
            wide.push_back(L'\r');
        }
        wide.push_back(ch);
    }
    ::SendMessageW(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wide.c_str()));
}
