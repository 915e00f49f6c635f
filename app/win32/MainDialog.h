// Tessary's one window: the log of the last batch above a "Fix Files..."
// button. A press asks for the files, then for the destination folder, then
// converts on a worker thread, which posts each log text to the dialog, so
// the window keeps painting and its log grows while files are converted.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/win32/Pickers.h"

// Posted by the worker; lParam of kLogAppendMessage owns a std::string.
inline constexpr UINT kLogClearMessage = WM_APP + 1;
inline constexpr UINT kLogAppendMessage = WM_APP + 2;
inline constexpr UINT kBatchDoneMessage = WM_APP + 3;

class MainDialog {
  public:
    explicit MainDialog(Pickers& pickers) : pickers_(pickers) {}
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;
    // A batch still running (only when the dialog could not be shown to
    // the end) is stopped after its current file and waited for.
    ~MainDialog();

    // Shows the dialog modally and answers DialogBoxParamA's result: 0 once
    // it is closed, -1 when it cannot be created.
    INT_PTR Run(HINSTANCE instance);

    // Called on the dialog's thread: once the dialog exists, and after the
    // last log text of each batch. For tests.
    std::function<void(HWND)> onCreated;
    std::function<void(HWND)> onBatchFinished;

    bool IsBatchRunning() const { return running_; }

  private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void FixFiles();
    void StartBatch(std::string destination, std::string fileList);
    void FinishBatch();
    void AppendToLog(const std::string& text);

    Pickers& pickers_;
    HWND dialog_ = nullptr;
    std::thread worker_;
    std::atomic<bool> stop_{false};
    bool running_ = false;
    // The window was closed during a batch; it goes once the batch ends.
    bool closePending_ = false;
};
