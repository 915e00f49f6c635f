#include "app/win32/QuestionBox.h"

#include "app/win32/resource.h"
#include "files/SystemPath.h"

namespace {

struct Asked {
    const wchar_t* title;
    const Question* question;
    WORD icon;
};

void SetText(HWND dialog, int control, const std::string& text) {
    ::SetDlgItemTextW(dialog, control, Files::WideText(text).c_str());
}

INT_PTR CALLBACK QuestionProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* asked = reinterpret_cast<const Asked*>(lParam);
            ::SetWindowTextW(dialog, asked->title);
            ::SendDlgItemMessageW(
                dialog, IDC_QUESTION_ICON, STM_SETICON,
                reinterpret_cast<WPARAM>(::LoadIconW(nullptr, MAKEINTRESOURCEW(asked->icon))), 0);
            SetText(dialog, IDC_QUESTION_TEXT, asked->question->text);
            SetText(dialog, IDC_QUESTION_DETAIL, asked->question->detail);
            SetText(dialog, IDOK, asked->question->accept);
            SetText(dialog, IDCANCEL, asked->question->reject);
            ::SendMessageW(dialog, DM_SETDEFID, IDCANCEL, 0);
            ::SetFocus(::GetDlgItem(dialog, IDCANCEL));
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(dialog, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool Ask(HWND owner, const wchar_t* title, const Question& question, WORD icon) {
    Asked asked{title, &question, icon};
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_QUESTION), owner,
                             &QuestionProcedure, reinterpret_cast<LPARAM>(&asked)) == IDOK;
}
