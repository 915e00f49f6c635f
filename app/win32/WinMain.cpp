// tessary.exe: the dialog, and nothing else. Files and folders named on the
// command line (as "Open with" names them) are fixed once it shows.
#include <objbase.h>
#include <shellapi.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/MainDialog.h"
#include "app/win32/Pickers.h"
#include "files/SystemPath.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
    // The folder picker is a shell dialog and needs COM on this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    SystemPickers pickers;
    MainDialog dialog(pickers);
    int count = 0;
    if (wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) {
            dialog.namedInputs.push_back(Files::Utf8Text(arguments[i]));
        }
        ::LocalFree(arguments);
    }
    const int status = static_cast<int>(dialog.Run(instance));
    ::CoUninitialize();
    return status;
}
