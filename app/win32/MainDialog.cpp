#include "app/win32/MainDialog.h"

#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "app/win32/ConvertFiles.h"
#include "app/win32/resource.h"
#include "batch/LogSink.h"

using namespace Batch;

namespace {

// Hands each text of the batch to the dialog's thread, which alone touches
// the window. A text the dialog can no longer receive is dropped.
class PostingLog : public LogSink {
  public:
    explicit PostingLog(HWND dialog) : dialog_(dialog) {}

    void Clear() override { ::PostMessageA(dialog_, kLogClearMessage, 0, 0); }

    void Append(std::string_view text) override {
        auto copy = std::make_unique<std::string>(text);
        if (::PostMessageA(dialog_, kLogAppendMessage, 0, reinterpret_cast<LPARAM>(copy.get()))) {
            copy.release();  // the dialog owns it now
        }
    }

  private:
    HWND dialog_;
};

// A multi-line edit control inside a dialog answers Escape by posting
// WM_CLOSE to the dialog, which would end the program. The log pane swallows
// the key, so only the close box ends the dialog.
LRESULT CALLBACK LogPaneProcedure(HWND pane, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto original = reinterpret_cast<WNDPROC>(::GetWindowLongPtrA(pane, GWLP_USERDATA));
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE) {
        return 0;
    }
    return ::CallWindowProcA(original, pane, message, wParam, lParam);
}

void KeepEscapeFromClosing(HWND pane) {
    const LONG_PTR original = ::GetWindowLongPtrA(pane, GWLP_WNDPROC);
    ::SetWindowLongPtrA(pane, GWLP_USERDATA, original);
    ::SetWindowLongPtrA(pane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogPaneProcedure));
}

}  // namespace

MainDialog::~MainDialog() {
    stop_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

INT_PTR MainDialog::Run(HINSTANCE instance) {
    return ::DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, &MainDialog::Procedure,
                             reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(lParam);
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        self->dialog_ = dialog;
    }
    auto* self = reinterpret_cast<MainDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR MainDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            // An edit control holds 30000 characters unless told otherwise;
            // the log of a large batch is longer.
            ::SendDlgItemMessageA(dialog_, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
            KeepEscapeFromClosing(::GetDlgItem(dialog_, IDC_LOG));
            if (onCreated) {
                onCreated(dialog_);
            }
            return TRUE;
        case WM_CLOSE:
            if (running_) {
                stop_ = true;
                closePending_ = true;
            } else {
                ::EndDialog(dialog_, 0);
            }
            return TRUE;
        case WM_COMMAND:
            // Escape and Enter arrive as IDCANCEL and IDOK; left unhandled,
            // they never end the dialog. Only the close box does.
            if (LOWORD(wParam) == IDC_FIX_FILES) {
                FixFiles();
                return TRUE;
            }
            return FALSE;
        case kLogClearMessage:
            ::SetDlgItemTextA(dialog_, IDC_LOG, "");
            return TRUE;
        case kLogAppendMessage: {
            const std::unique_ptr<std::string> text(reinterpret_cast<std::string*>(lParam));
            AppendToLog(*text);
            return TRUE;
        }
        case kBatchDoneMessage:
            FinishBatch();
            return TRUE;
        default:
            return FALSE;
    }
}

void MainDialog::FixFiles() {
    if (running_) {
        return;  // one batch at a time
    }
    std::string fileList;
    if (!pickers_.PickFiles(dialog_, fileList)) {
        return;
    }
    std::string destination;
    if (!pickers_.PickFolder(dialog_, destination)) {
        return;
    }
    StartBatch(std::move(destination), std::move(fileList));
}

void MainDialog::StartBatch(std::string destination, std::string fileList) {
    stop_ = false;
    running_ = true;
    const HWND dialog = dialog_;
    worker_ = std::thread(
        [this, dialog, destination = std::move(destination), fileList = std::move(fileList)] {
            PostingLog log(dialog);
            ConvertOptions options;
            options.stop = &stop_;
            options.jobs = 0;  // one per core, as the command line
            try {
                ConvertFiles(log, destination.c_str(), fileList.c_str(), options);
            } catch (const std::bad_alloc&) {
                log.Append("Error: not enough memory to go on with the batch\n");
            }
            ::PostMessageA(dialog, kBatchDoneMessage, 0, 0);
        });
}

void MainDialog::FinishBatch() {
    if (worker_.joinable()) {
        worker_.join();
    }
    running_ = false;
    if (onBatchFinished) {
        onBatchFinished(dialog_);
    }
    if (closePending_) {
        closePending_ = false;
        ::EndDialog(dialog_, 0);
    }
}

void MainDialog::AppendToLog(const std::string& text) {
    // The log's lines end in "\n"; an edit control breaks lines only at
    // "\r\n".
    std::string lines;
    lines.reserve(text.size() + text.size() / 16);
    for (const char ch : text) {
        if (ch == '\n') {
            lines.push_back('\r');
        }
        lines.push_back(ch);
    }
    const HWND log = ::GetDlgItem(dialog_, IDC_LOG);
    // Always at the end, wherever the user has put the caret meanwhile, and
    // without selecting anything.
    const int length = ::GetWindowTextLengthA(log);
    ::SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(length), static_cast<LPARAM>(length));
    ::SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(lines.c_str()));
}
