// Tessary's one window: the log of the last batch above a "Fix Files..."
// button. A press asks for the files, then for the destination folder, then
// (when files there would be replaced) whether to replace them, and converts
// on a worker thread through the same job list and pool as the command line.
// The worker posts each text to the dialog, so the window keeps painting
// while the log fills in and a progress bar beside the button, which turns
// into Stop, counts the files. Files and folders dropped on the window, or
// named on the command line, skip the file picker.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/win32/Pickers.h"
#include "batch/BatchPlan.h"

// Posted by the worker when its outbox (below) holds news, and once the
// batch is over; kFixInputsMessage's lParam owns a std::vector<std::string>.
inline constexpr UINT kOutboxMessage = WM_APP + 1;
inline constexpr UINT kBatchDoneMessage = WM_APP + 2;
inline constexpr UINT kFixInputsMessage = WM_APP + 3;

// What the worker has for the dialog since the dialog last looked: one
// message stands for all of it, so that however fast files go the queue
// never fills and the window keeps painting.
struct BatchOutbox {
    enum class Kind { Plain, Failure, Summary };
    struct Progress {
        std::size_t position = 0;  // 1-based; 0 when there is no news
        std::size_t count = 0;
        std::string name;
    };

    std::mutex lock;
    bool clear = false;
    std::vector<std::pair<std::string, Kind>> texts;
    Progress progress;
    bool posted = false;  // a kOutboxMessage is on its way
};

// What the empty log shows.
inline constexpr const wchar_t* kEmptyLogHint =
    L"Press Fix Files... or drop .tga files or folders here.";
// What the log says when a drop or the command line held nothing to fix.
inline constexpr const char* kNothingToFixText =
    "No .tga files to fix in what was dropped or named.";

class MainDialog {
  public:
    explicit MainDialog(Pickers& pickers) : pickers_(pickers) {}
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;
    // A batch still running (only when the dialog could not be shown to
    // the end) is stopped after its current files and waited for.
    ~MainDialog();

    // Shows the dialog and runs its messages until it is closed: 0 then,
    // -1 when it cannot be created.
    INT_PTR Run(HINSTANCE instance);

    // Files and folders to fix once the dialog shows (as "Open with" names
    // them): only the folder picker is asked.
    std::vector<std::string> namedInputs;

    // Called on the dialog's thread: once the dialog exists, after it shows
    // a file's progress, and after the summary of each batch. For tests.
    std::function<void(HWND)> onCreated;
    std::function<void(HWND)> onProgress;
    std::function<void(HWND)> onBatchFinished;

    bool IsBatchRunning() const { return running_; }
    // Converted at once; 0, the default, is one per core.
    void SetJobs(unsigned jobs) { jobs_ = jobs; }

  private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool Command(WORD control);
    void OnButton();
    void FixFiles();
    void FixInputs(const std::vector<std::string>& inputs);
    void StartBatch(Batch::BatchPlan plan);
    void FinishBatch();
    void TakeOutbox();
    void AskToClose();
    void End();
    void OnDrop(HDROP drop);
    void OnProgress(std::size_t position, std::size_t count, const std::string& name);
    void SetBatchView(bool running);
    void AppendToLog(const std::string& text, BatchOutbox::Kind kind);

    Pickers& pickers_;
    HWND dialog_ = nullptr;
    BatchOutbox outbox_;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
    bool ended_ = false;
    unsigned jobs_ = 0;
    std::wstring title_;
    std::string destination_;  // of the last batch started
    // The window was closed during a batch; it goes once the batch ends.
    bool closePending_ = false;
    // A question is open; a second close waits for its answer.
    bool asking_ = false;
};
