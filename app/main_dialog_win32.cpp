#include "main_dialog_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "com_ports.h"
#include "command_view.h"
#include "kept_setup.h"
#include "panel_input.h"
#include "protocol_waits.h"
#include "run_hooks.h"
#include "sockets.h"
#include "start_checks.h"
#include "texts.h"
#include "update_sequence.h"
#include "worker_thread.h"

HINSTANCE instanceHandle = nullptr;
HWND comPanel = nullptr;
HWND lanPanel = nullptr;
HWND progressBar = nullptr;
HMENU systemMenu = nullptr;

namespace {

// The dialog's controls as the worker's commands see them.
class DialogView : public CommandView {
public:
    explicit DialogView(HWND window) : window_(window) {}

    void showStatusText(const std::string& text) override
    {
        SetDlgItemTextA(window_, IdStatus, "");
        SetDlgItemTextA(window_, IdStatus, text.c_str());
    }
    void showDeviceVersion(const std::string& text) override { SetDlgItemTextA(window_, IdDeviceVersion, text.c_str()); }
    void showImageVersion(const std::string& text) override { SetDlgItemTextA(window_, IdImageVersion, text.c_str()); }
    bool askConfirmation(const std::string& question) override
    {
        return MessageBoxA(window_, question.c_str(), "", MB_ICONQUESTION | MB_YESNO) == IDYES;
    }
    void showErrorBox(const std::string& caption, const std::string& message) override
    {
        MessageBoxA(window_, message.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
    }
    void enableControls(bool enable) override
    {
        EnableMenuItem(systemMenu, SC_CLOSE, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
        const std::pair<HWND, int> controls[] = {{window_, IdMethod},   {comPanel, IdComPort}, {lanPanel, IdIpAddress},
                                                 {lanPanel, IdTcpPort}, {window_, IdStart},    {window_, IdExit}};
        for (auto [parent, id] : controls)
            EnableWindow(GetDlgItem(parent, id), enable);
    }
    void setProgressRange(uint32_t maximum) override
    {
        SendMessageA(progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(maximum));
        SendMessageA(progressBar, PBM_SETPOS, 0, 0);
    }
    void stepProgress(uint32_t step) override
    {
        SendMessageA(progressBar, PBM_SETSTEP, step, 0);
        SendMessageA(progressBar, PBM_STEPIT, 0, 0);
    }
    void resetProgress() override { SendMessageA(progressBar, PBM_SETPOS, 0, 0); }

private:
    HWND window_;
};

// Creates a panel over the placeholder, right after it in the z-order.
HWND createPanel(HWND window, int templateId, DLGPROC procedure)
{
    HWND panel = CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(templateId), window, procedure, 0);
    HWND place = GetDlgItem(window, IdPanelPlace);
    RECT area;
    GetClientRect(place, &area);
    MapWindowPoints(place, window, reinterpret_cast<POINT*>(&area), 2);
    MoveWindow(panel, area.left, area.top, area.right - area.left, area.bottom - area.top, FALSE);
    SetWindowPos(panel, place, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    return panel;
}

// The COM field as it stands, as when it is left: the port number, and the
// text shown as the list shows it when it was not.
void takeComField(HWND panel)
{
    char text[16] = {};
    GetDlgItemTextA(panel, IdComPort, text, sizeof text);
    const ComChoice choice = comPortFromText(text);
    updateContext.comPort = choice.port;
    if (!choice.keepText) {
        wsprintfA(text, "COM%d", choice.port);
        SetDlgItemTextA(panel, IdComPort, text);
    }
}

// The address or the port field as it stands, as when it is left.
void takeLanField(HWND panel, int id)
{
    if (id == IdIpAddress) {
        GetDlgItemTextA(panel, IdIpAddress, updateContext.ipText, sizeof updateContext.ipText);
    } else {
        char text[10] = {};
        GetDlgItemTextA(panel, IdTcpPort, text, sizeof text);
        updateContext.tcpPort = tcpPortFromText(text);
    }
}

INT_PTR CALLBACK comPanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        char name[16];
        for (int i = 0; i < 9; ++i) {
            wsprintfA(name, "COM%d", i + 1);
            SendDlgItemMessageA(panel, IdComPort, CB_INSERTSTRING, i, reinterpret_cast<LPARAM>(name));
        }
        // After them, the ports above 9 that exist on this machine.
        int position = 9;
        for (const int32_t port : comPortsAboveNine()) {
            wsprintfA(name, "COM%d", static_cast<int>(port));
            SendDlgItemMessageA(panel, IdComPort, CB_INSERTSTRING, position++, reinterpret_cast<LPARAM>(name));
        }
        SendDlgItemMessageA(panel, IdComPort, CB_SETCURSEL, 0, 0);
        updateContext.comPort = 1;
        return TRUE;
    }
    if (message != WM_COMMAND || LOWORD(wParam) != IdComPort)
        return FALSE;
    if (HIWORD(wParam) == CBN_SELCHANGE) {
        // The entry's own number: past COM9 the positions skip the ports that do not exist.
        const LRESULT position = SendDlgItemMessageA(panel, IdComPort, CB_GETCURSEL, 0, 0);
        char entry[16] = {};
        if (position >= 0 && SendDlgItemMessageA(panel, IdComPort, CB_GETLBTEXTLEN, position, 0) < 16)
            SendDlgItemMessageA(panel, IdComPort, CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(entry));
        updateContext.comPort = comPortFromText(entry).port;
        return TRUE;
    }
    if (HIWORD(wParam) == CBN_KILLFOCUS) {
        takeComField(panel);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK lanPanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        SetDlgItemTextA(panel, IdIpAddress, "");
        SetDlgItemTextA(panel, IdTcpPort, std::to_string(kDefaultTcpPort).c_str());
        updateContext.tcpPort = kDefaultTcpPort;
        return TRUE;
    }
    if (message != WM_COMMAND || HIWORD(wParam) != EN_KILLFOCUS)
        return FALSE;
    if (LOWORD(wParam) != IdIpAddress && LOWORD(wParam) != IdTcpPort)
        return FALSE;
    takeLanField(panel, LOWORD(wParam));
    return TRUE;
}

// The error box the window thread shows itself, without the command channel.
void showErrorFromWindow(HWND window)
{
    MessageBoxA(window, errorMessage(updateContext, 0).c_str(), loadText(TextErrorCaption).c_str(),
                MB_ICONERROR | MB_OK);
}

// The XPort's true setup, kept as the console keeps it, in the same file;
// a switch that fails is left for the next run to put back, as before.
KeptSetup keptSetup(false);
RunHooks keeperHooks;

// A network run holds its address from Start to its final line. A kept
// record that cannot be used, or another run on the address, refuses the
// run before anything is sent, with the XPort's error box.
bool holdXportAddress(HWND window)
{
    updateContext.hooks = nullptr;
    if (updateContext.method != Network || updateContext.ipText[0] == '\0' || updateContext.tcpPort == 0)
        return true;  // the start's own refusals come first
    const KeptSetupFound found = keptSetup.open(updateContext.ipText);
    if (found != KeptSetupFound::None && found != KeptSetupFound::Kept) {
        keptSetup.close();
        updateContext.errorCode = ErrXportChange;
        showErrorFromWindow(window);
        return false;
    }
    keeperHooks.keeper = keptSetup.keeper();
    keeperHooks.keeperContext = &keptSetup;
    updateContext.hooks = &keeperHooks;
    return true;
}

// Shortened test waits are never silent: the title says so.
void applyTestWaits(HWND window)
{
    if (!applyTestWaitsFromEnvironment())
        return;
    char title[256] = "";
    GetWindowTextA(window, title, sizeof title);
    SetWindowTextA(window, (std::string(title) + " [test waits]").c_str());
}

INT_PTR initMainDialog(HWND window)
{
    applyTestWaits(window);
    SendDlgItemMessageA(window, IdMethod, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>("KT-58CU"));
    SendDlgItemMessageA(window, IdMethod, CB_INSERTSTRING, 1, reinterpret_cast<LPARAM>("KT-58NET"));
    SendDlgItemMessageA(window, IdMethod, CB_SETCURSEL, 0, 0);
    comPanel = createPanel(window, kComPanel, comPanelProc);
    lanPanel = createPanel(window, kLanPanel, lanPanelProc);
    ShowWindow(comPanel, SW_SHOW);
    updateContext.imageData = nullptr;
    InitCommonControls();
    progressBar = GetDlgItem(window, IdProgress);
    createCommandDone(&updateContext);
    updateContext.comHandle = kNoPort;
    updateContext.linkOpen = 0;
    updateContext.tcpSocket = kNoSocket;
    updateContext.udpSocket = kNoSocket;
    updateContext.errorCode = 0;
    if (!startSocketLibrary(&updateContext.wsaData)) {
        updateContext.errorCode = ErrSocketInit;
        showErrorFromWindow(window);
        return FALSE;
    }
    systemMenu = GetSystemMenu(window, FALSE);
    return TRUE;
}

void changeMethod(HWND window)
{
    const bool network = SendDlgItemMessageA(window, IdMethod, CB_GETCURSEL, 0, 0) == 1;
    updateContext.method = network ? Network : Serial;
    ShowWindow(network ? comPanel : lanPanel, SW_HIDE);
    ShowWindow(network ? lanPanel : comPanel, SW_SHOW);
}

// Start: the fields as they stand (Enter leaves the focus where it is), then
// the checks that come before anything is sent, then the run.
void startPressed(HWND window)
{
    for (int id : {IdStatus, IdDeviceVersion, IdImageVersion})
        SetDlgItemTextA(window, id, "");
    takeComField(comPanel);
    takeLanField(lanPanel, IdIpAddress);
    takeLanField(lanPanel, IdTcpPort);
    // While a run is under way Start does nothing: its image is the run's.
    if (workerRunning(&updateContext))
        return;
    // Without its own event no run could wait for the user's answer.
    if (updateContext.run.commandDone == nullptr) {
        updateContext.errorCode = ErrCommandChannel;
        showErrorFromWindow(window);
    } else if (startChecksPass(window, &updateContext) && holdXportAddress(window)) {
        const int started = startUpdate(window, &updateContext);
        if (started != 1)
            keptSetup.close();
        if (started == kStartRefused)
            showErrorFromWindow(window);
    }
}

// Exit and Close end the program, but never under a running update.
void exitProgram(HWND window)
{
    if (shutdownApp(window, &updateContext))
        EndDialog(window, 0);
}

} // namespace

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return initMainDialog(window);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IdStart:
            startPressed(window);
            return TRUE;
        case IdExit:
            exitProgram(window);
            return TRUE;
        case IdMethod:
            if (HIWORD(wParam) != CBN_SELCHANGE)
                return FALSE;
            changeMethod(window);
            return TRUE;
        default:
            return FALSE;
        }
    case WM_CLOSE:
        exitProgram(window);
        return FALSE;
    case kUpdateCommandMessage: {
        DialogView view(window);
        const INT_PTR handled = handleUpdateCommand(window, view, &updateContext, wParam, lParam);
        if ((wParam & 0xFFFF) == CmdFinished)
            keptSetup.close();  // the restore is done: the address is free
        return handled;
    }
    default:
        return FALSE;
    }
}
