// tessary.exe: the dialog, and nothing else. No arguments, no settings.
#include <objbase.h>
#include <windows.h>

#include "app/win32/MainDialog.h"
#include "app/win32/Pickers.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    // The folder browser is a shell dialog and needs COM on this thread.
    ::CoInitialize(nullptr);
    SystemPickers pickers;
    MainDialog dialog(pickers);
    return static_cast<int>(dialog.Run(instance));
}
