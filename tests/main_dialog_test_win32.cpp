// The main dialog under Wine: its initialisation, the panels and what they
// make of typing, and the worker's commands carried out on the real controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>
#include <thread>

#include "command_channel.h"
#include "command_channel_win32.h"
#include "main_dialog_win32.h"
#include "protocol_waits.h"
#include "update_context.h"
#include "worker_thread.h"

namespace {

std::string textOf(HWND parent, int id)
{
    char text[256] = {};
    GetDlgItemTextA(parent, id, text, sizeof text);
    return text;
}

std::string itemOf(HWND parent, int id, int index)
{
    char text[64] = {};
    SendDlgItemMessageA(parent, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text));
    return text;
}

// Types `text` into a panel field and leaves it, as the user does.
void typeAndLeave(HWND panel, int id, const char* text, WORD notification)
{
    SetDlgItemTextA(panel, id, text);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(GetDlgItem(panel, id)));
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        initUpdateContext(&updateContext);
        instanceHandle = GetModuleHandleA(nullptr);
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        window = CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(kMainDialog), nullptr, mainDialogProc, 0);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(updateContext.run.commandDone, nullptr) << "closing releases the event";
        DestroyWindow(window);
    }

    // Posts commands from a worker thread, as a run does, while this thread
    // pumps the dialog's messages.
    void runWorker(void (*work)(HWND))
    {
        bool finished = false;
        std::thread worker([&] {
            work(window);
            finished = true;
            PostMessageA(window, WM_NULL, 0, 0);
        });
        MSG message;
        while (!finished && GetMessageA(&message, nullptr, 0, 0) > 0)
            DispatchMessageA(&message);
        worker.join();
    }

    HWND window = nullptr;
};

// The dialog made while the registry's serial map names ports above COM9.
class MainDialogWithPorts : public MainDialog {
protected:
    void SetUp() override
    {
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMap, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &map_,
                        nullptr);
        ASSERT_NE(map_, nullptr);
        for (const auto& [name, port] : kPorts)
            RegSetValueExA(map_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(port), std::strlen(port) + 1);
        MainDialog::SetUp();
    }
    void TearDown() override
    {
        MainDialog::TearDown();
        for (const auto& entry : kPorts)
            RegDeleteValueA(map_, entry.first);
        RegCloseKey(map_);
    }

    static constexpr const char* kMap = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    static constexpr std::pair<const char*, const char*> kPorts[] = {
        {"\\Device\\KtTest15", "COM15"}, {"\\Device\\KtTest3", "COM3"}, {"\\Device\\KtTest12", "COM12"},
        {"\\Device\\KtTestOdd", "COM20x"}};
    HKEY map_ = nullptr;
};

TEST_F(MainDialogWithPorts, ComListOffersTheExistingPortsAboveCom9)
{
    std::vector<std::string> entries;
    const int count = static_cast<int>(SendDlgItemMessageA(comPanel, IdComPort, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i)
        entries.push_back(itemOf(comPanel, IdComPort, i));
    ASSERT_GE(entries.size(), 11u);
    EXPECT_EQ(entries[8], "COM9");
    const auto com12 = std::find(entries.begin(), entries.end(), "COM12");
    const auto com15 = std::find(entries.begin(), entries.end(), "COM15");
    ASSERT_NE(com15, entries.end());
    EXPECT_LT(com12, com15) << "ascending";
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM3"), 1);
    EXPECT_EQ(std::count(entries.begin(), entries.end(), "COM20x"), 0);
    SendDlgItemMessageA(comPanel, IdComPort, CB_SETCURSEL, com15 - entries.begin(), 0);
    SendMessageA(comPanel, WM_COMMAND, MAKEWPARAM(IdComPort, CBN_SELCHANGE), 0);
    EXPECT_EQ(updateContext.comPort, 15);
}

TEST_F(MainDialog, StartsWithKt58cuOnCom1AndPort10001)
{
    EXPECT_EQ(itemOf(window, IdMethod, 0), "KT-58CU");
    EXPECT_EQ(itemOf(window, IdMethod, 1), "KT-58NET");
    EXPECT_EQ(SendDlgItemMessageA(window, IdMethod, CB_GETCURSEL, 0, 0), 0);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(itemOf(comPanel, IdComPort, i), "COM" + std::to_string(i + 1));
    EXPECT_EQ(SendDlgItemMessageA(comPanel, IdComPort, CB_GETCOUNT, 0, 0), 9);
    EXPECT_EQ(updateContext.comPort, 1);
    EXPECT_EQ(updateContext.tcpPort, 10001);
    EXPECT_EQ(textOf(lanPanel, IdTcpPort), "10001");
    EXPECT_TRUE(IsWindowVisible(comPanel) || !IsWindowVisible(window));
    EXPECT_FALSE(GetWindowLongA(lanPanel, GWL_STYLE) & WS_VISIBLE);
    EXPECT_TRUE(GetWindowLongA(comPanel, GWL_STYLE) & WS_VISIBLE);
    EXPECT_NE(updateContext.run.commandDone, nullptr);
    EXPECT_NE(systemMenu, nullptr);
}

TEST_F(MainDialog, TitleSaysWhenTestWaitsAreInEffect)
{
    char plain[256] = "";
    GetWindowTextA(window, plain, sizeof plain);
    EXPECT_EQ(std::string(plain).find("[test waits]"), std::string::npos);
    _putenv("KT5CUFIRM_TEST_WAITS=300,20");
    HWND marked = CreateDialogParamA(instanceHandle, MAKEINTRESOURCEA(kMainDialog), nullptr, mainDialogProc, 0);
    _putenv("KT5CUFIRM_TEST_WAITS=");
    ASSERT_NE(marked, nullptr);
    char title[256] = "";
    GetWindowTextA(marked, title, sizeof title);
    EXPECT_EQ(std::string(title), std::string(plain) + " [test waits]");
    EXPECT_EQ(protocolWaits().receiveMs, 300);
    setProtocolWaitsForTests({});
    DestroyWindow(marked);
}

TEST_F(MainDialog, MethodListSwitchesPanelsAndKeepsTheirValues)
{
    typeAndLeave(comPanel, IdComPort, "COM12", CBN_KILLFOCUS);
    SendDlgItemMessageA(window, IdMethod, CB_SETCURSEL, 1, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IdMethod, CBN_SELCHANGE), 0);
    EXPECT_EQ(updateContext.method, Network);
    EXPECT_TRUE(GetWindowLongA(lanPanel, GWL_STYLE) & WS_VISIBLE);
    EXPECT_FALSE(GetWindowLongA(comPanel, GWL_STYLE) & WS_VISIBLE);
    SendDlgItemMessageA(window, IdMethod, CB_SETCURSEL, 0, 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IdMethod, CBN_SELCHANGE), 0);
    EXPECT_EQ(updateContext.method, Serial);
    EXPECT_EQ(updateContext.comPort, 12);
}

TEST_F(MainDialog, PanelsReadTheirFieldsWhenLeft)
{
    typeAndLeave(comPanel, IdComPort, "com3", CBN_KILLFOCUS);
    EXPECT_EQ(updateContext.comPort, 3);
    EXPECT_EQ(textOf(comPanel, IdComPort), "COM3");
    typeAndLeave(comPanel, IdComPort, "COM", CBN_KILLFOCUS);
    EXPECT_EQ(updateContext.comPort, 1);
    EXPECT_EQ(textOf(comPanel, IdComPort), "COM1");
    typeAndLeave(comPanel, IdComPort, "COM 7", CBN_KILLFOCUS);
    EXPECT_EQ(updateContext.comPort, 7);
    EXPECT_EQ(textOf(comPanel, IdComPort), "COM 7");
    SendDlgItemMessageA(comPanel, IdComPort, CB_SETCURSEL, 4, 0);
    SendMessageA(comPanel, WM_COMMAND, MAKEWPARAM(IdComPort, CBN_SELCHANGE), 0);
    EXPECT_EQ(updateContext.comPort, 5);

    typeAndLeave(lanPanel, IdIpAddress, "192.168.100.100-extra", EN_KILLFOCUS);
    EXPECT_STREQ(updateContext.ipText, "192.168.100.100");
    typeAndLeave(lanPanel, IdTcpPort, "1234567890", EN_KILLFOCUS);
    EXPECT_EQ(updateContext.tcpPort, 123456789);
    typeAndLeave(lanPanel, IdTcpPort, "port", EN_KILLFOCUS);
    EXPECT_EQ(updateContext.tcpPort, 0);
}

TEST_F(MainDialog, WorkerCommandsReachTheControls)
{
    updateContext.imageSize = 70000;
    runWorker([](HWND target) {
        postCommand(target, &updateContext, CmdEnableControls, 0);
        updateContext.statusCode = StConnecting;
        reportStatus(target, &updateContext);
        updateContext.deviceVersion[kDeviceVersionMajor] = 0x1A;
        postCommand(target, &updateContext, CmdDeviceVersion, 0);
        postCommand(target, &updateContext, CmdProgressRange, 0);
        updateContext.txLength = 11;
        postCommand(target, &updateContext, CmdProgressStep, 2);
    });
    for (auto [parent, id] : {std::pair{window, int(IdMethod)}, {comPanel, IdComPort}, {lanPanel, IdIpAddress},
                              {lanPanel, IdTcpPort}, {window, IdStart}, {window, IdExit}})
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(parent, id))) << id;
    EXPECT_TRUE(GetMenuState(systemMenu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(textOf(window, IdStatus), "Connectinng...\r\n");
    EXPECT_EQ(textOf(window, IdDeviceVersion), "Ver 1A.00");
    EXPECT_EQ(SendMessageA(progressBar, PBM_GETRANGE, FALSE, 0), 70003);
    EXPECT_EQ(SendMessageA(progressBar, PBM_GETPOS, 0, 0), 13);

    runWorker([](HWND target) {
        postCommand(target, &updateContext, CmdProgressReset, 0);
        postCommand(target, &updateContext, CmdEnableControls, 1);
    });
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, IdStart)));
    EXPECT_FALSE(GetMenuState(systemMenu, SC_CLOSE, MF_BYCOMMAND) & MF_GRAYED);
    EXPECT_EQ(SendMessageA(progressBar, PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageA(progressBar, PBM_GETRANGE, FALSE, 0), 70003) << "the range stays";
}

TEST_F(MainDialog, StartWithoutItsEventIsRefusedWithAnErrorBox)
{
    closeCommandChannel(window, &updateContext);
    std::string shown;
    std::thread reader([&shown] {
        for (int i = 0; i < 200 && shown.empty(); ++i) {
            HWND box = FindWindowA("#32770", "Error");
            if (box == nullptr) {
                Sleep(50);
                continue;
            }
            shown = textOf(box, 0xFFFF);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(IdStart, BN_CLICKED), 0);
    reader.join();
    EXPECT_EQ(shown, "The update cannot start: the program could not make its command event.");
    EXPECT_FALSE(workerRunning(&updateContext));
}

} // namespace
