// Identifiers shared by the resource script and the code. Kept free of any
// declaration so that the resource compiler can read it.
#pragma once

#define IDD_MAIN 102
#define IDD_QUESTION 103
#define IDA_MAIN 104
#define IDI_TESSARY 107
#define IDC_LOG 1000
#define IDC_FIX_FILES 1001
#define IDC_PROGRESS 1002
#define IDC_CURRENT_FILE 1003
#define IDC_OPEN_FOLDER 1004
#define IDC_QUESTION_ICON 1010
#define IDC_QUESTION_TEXT 1011
#define IDC_QUESTION_DETAIL 1012
#define IDM_QUIT 2000
