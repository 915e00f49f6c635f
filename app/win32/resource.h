// Identifiers shared by the resource script and the code. Kept free of any
// declaration so that the resource compiler can read it.
#pragma once

#define IDD_MAIN 102
#define IDI_TESSARY 107
#define IDC_LOG 1000
#define IDC_FIX_FILES 1001
