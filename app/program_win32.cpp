// KT5CUfirm.exe: the program entry runs the main dialog.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "main_dialog_win32.h"
#include "protocol_waits.h"

namespace {

// The test suite's hook to shorten the protocol's waits, "receiveMs,settleMs",
// the same as the console program's. Without it the program is unchanged.
void applyTestWaits()
{
    const char* waits = std::getenv("KT5CUFIRM_TEST_WAITS");
    int receiveMs = 0;
    int settleMs = 0;
    if (waits != nullptr && std::sscanf(waits, "%d,%d", &receiveMs, &settleMs) == 2 && receiveMs > 0 &&
        settleMs >= 0)
        setProtocolWaitsForTests({receiveMs, settleMs});
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    applyTestWaits();
    instanceHandle = instance;
    // The progress bar's window class must exist before the dialog is made.
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(kMainDialog), nullptr, mainDialogProc, 0);
    return 0;
}
