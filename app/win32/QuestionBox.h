// Asks a Question (see Replacements.h) in a small modal dialog of its own
// template, so that the answers can carry their own words, which the
// system's message box cannot, and the cautious answer is the default.
#pragma once

#include <windows.h>

#include "app/win32/Replacements.h"

// Answers true for `accept`; false for `reject`, Escape, Enter alone or the
// close box. `icon` is a system icon's number (32515 warning, 32514 question).
bool Ask(HWND owner, const wchar_t* title, const Question& question, WORD icon);
