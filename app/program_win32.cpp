// KT5CUfirm.exe: the program entry runs the main dialog.
#include <windows.h>
#include <commctrl.h>

#include "main_dialog_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    instanceHandle = instance;
    // The progress bar's window class must exist before the dialog is made.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(kMainDialog), nullptr, mainDialogProc, 0);
    return 0;
}
