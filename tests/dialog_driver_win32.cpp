// Drives KT5CUfirm.exe from outside, as a user would: it starts the program,
// finds its dialog and message boxes, types into the fields, presses buttons
// and keys and reads back the texts, the progress bar and which controls are
// enabled. tests/dialog_under_wine.sh runs one case at a time against the
// emulator it started, and tells the case where to find things:
//   KT_DIALOG_EXE  the program (a copy beside the image it loads)
//   KT_SIM_PORT    the emulator's TCP port (network cases)
//   KT_COM         the COM port mapped to the emulator's terminal (serial case)
//   KT_DIALOG_LANGUAGE=ja  the program runs with a Japanese interface
// With --pose idle (the network panel filled in) or --pose running (a KT-58CU
// update half-way, on KT_COM), it brings the dialog into that state for a
// screenshot, prints "ready X Y WIDTH HEIGHT" and waits for a line on stdin.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control_ids.h"
#include "kt_version.h"

namespace {

constexpr int IdStart = KT_ID_START, IdExit = KT_ID_EXIT, IdStatus = KT_ID_STATUS, IdMethod = KT_ID_METHOD,
              IdTcpPort = KT_ID_TCP_PORT, IdComPort = KT_ID_COM_PORT, IdIpAddress = KT_ID_IP_ADDRESS,
              IdProgress = KT_ID_PROGRESS, IdImageVersion = KT_ID_IMAGE_VERSION,
              IdDeviceVersion = KT_ID_DEVICE_VERSION;

std::wstring widen(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    return wide;
}

std::string narrow(const std::wstring& wide)
{
    std::string utf8(wide.size() * 3, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
}

bool japanese()
{
    const char* language = std::getenv("KT_DIALOG_LANGUAGE");
    return language != nullptr && std::string(language) == "ja";
}

// The program's texts by id, in the language the case runs in.
std::wstring text(int id)
{
    static const std::map<int, std::pair<std::string, std::string>> table = {
#define KT_TEXT(name, id, english, japanese) {id, {english, japanese}},
#include "texts.def"
#undef KT_TEXT
    };
    const auto& entry = table.at(id);
    return widen(japanese() ? entry.second : entry.first);
}

// A variable of the environment in UTF-8, whatever the ANSI code page.
std::string environment(const char* name)
{
    const wchar_t* value = _wgetenv(widen(name).c_str());
    return value == nullptr ? std::string() : narrow(value);
}

// Polls until the condition holds; false after 30 s.
bool waitUntil(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 5000, &result);
    return static_cast<LRESULT>(result);
}

std::wstring windowText(HWND window)
{
    wchar_t buffer[512] = {};
    send(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::wstring className(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::vector<HWND> children(HWND parent)
{
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// What the user sees of the controls a run disables, in the order the
// program disables them.
struct Enabled {
    bool method, comPort, ipAddress, tcpPort, start, exit;
    bool operator==(const Enabled& o) const
    {
        return method == o.method && comPort == o.comPort && ipAddress == o.ipAddress && tcpPort == o.tcpPort &&
               start == o.start && exit == o.exit;
    }
};
std::ostream& operator<<(std::ostream& out, const Enabled& e)
{
    return out << "method " << e.method << ", COM " << e.comPort << ", IP " << e.ipAddress << ", port "
               << e.tcpPort << ", Start " << e.start << ", Exit " << e.exit;
}
constexpr Enabled kAllEnabled{true, true, true, true, true, true};
constexpr Enabled kAllDisabled{false, false, false, false, false, false};

// KT5CUfirm.exe as a process, with its windows.
class Program {
public:
    Program()
    {
        std::wstring command = L"\"" + widen(environment("KT_DIALOG_EXE")) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process_) != 0;
        if (started_)
            waitUntil([this] { return (dialog = findDialog(nullptr)) != nullptr && IsWindowVisible(dialog); });
        for (HWND child : children(dialog)) {
            if (GetDlgItem(child, IdComPort) != nullptr)
                comPanel = child;
            if (GetDlgItem(child, IdIpAddress) != nullptr)
                lanPanel = child;
        }
        idleThreads_ = threads();
    }
    ~Program()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 10000);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool ready() const { return dialog != nullptr && comPanel != nullptr && lanPanel != nullptr; }

    // A top-level dialog of the program: the main dialog (no owner) or a
    // message box (owned by the main dialog).
    HWND findDialog(HWND owner) const
    {
        struct Search {
            DWORD process;
            HWND owner;
            HWND found;
        } search{process_.dwProcessId, owner, nullptr};
        EnumWindows(
            [](HWND window, LPARAM data) {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD process = 0;
                GetWindowThreadProcessId(window, &process);
                if (process == s->process && className(window) == L"#32770" && IsWindowVisible(window) &&
                    GetWindow(window, GW_OWNER) == s->owner) {
                    s->found = window;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Waits for a message box over the dialog. A run's worker waits for it
    // too: the threads that are there now and were not at the start are the run's.
    HWND messageBox()
    {
        HWND box = nullptr;
        waitUntil([&] { return (box = findDialog(dialog)) != nullptr; });
        for (DWORD thread : threads())
            if (idleThreads_.count(thread) == 0)
                runThreads_.insert(thread);
        return box;
    }

    // Waits until the run's threads have ended: the final line is shown a
    // moment before its worker is gone.
    bool runEnded() const
    {
        for (DWORD id : runThreads_) {
            HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
            if (thread == nullptr)
                continue;
            const DWORD result = WaitForSingleObject(thread, 30000);
            CloseHandle(thread);
            if (result != WAIT_OBJECT_0)
                return false;
        }
        return true;
    }

    std::wstring field(int id) const { return windowText(GetDlgItem(dialog, id)); }
    std::wstring status() const { return field(IdStatus); }
    LRESULT progressPosition() const { return send(GetDlgItem(dialog, IdProgress), PBM_GETPOS); }
    LRESULT progressMaximum() const { return send(GetDlgItem(dialog, IdProgress), PBM_GETRANGE, FALSE); }

    Enabled enabled() const
    {
        const auto on = [](HWND parent, int id) { return IsWindowEnabled(GetDlgItem(parent, id)) != 0; };
        return {on(dialog, IdMethod),  on(comPanel, IdComPort), on(lanPanel, IdIpAddress),
                on(lanPanel, IdTcpPort), on(dialog, IdStart),     on(dialog, IdExit)};
    }

    // Picks an entry of a list as a click on it would, with the notification.
    void choose(HWND parent, int id, int position) const
    {
        HWND list = GetDlgItem(parent, id);
        send(list, CB_SETCURSEL, position);
        send(parent, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
    }

    // Moves the focus into a field and types the text; the field counts it
    // once the focus leaves it.
    void type(HWND parent, int id, const wchar_t* value) const
    {
        HWND field = GetDlgItem(parent, id);
        send(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
        send(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value));
    }

    // A click on a button: the button takes the focus, then acts. Posted, as
    // the button may open a message box that waits for us.
    static void click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

    // A key as the keyboard gives it, to the focused control.
    void press(WPARAM key) const
    {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        HWND target = info.hwndFocus != nullptr ? info.hwndFocus : dialog;
        PostMessageW(target, WM_KEYDOWN, key, 1);
        PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    }

    // The network panel filled in for the emulator.
    void chooseNetwork(const std::wstring& address, const std::string& port = environment("KT_SIM_PORT")) const
    {
        choose(dialog, IdMethod, 1);
        type(lanPanel, IdTcpPort, widen(port).c_str());
        type(lanPanel, IdIpAddress, address.c_str());
    }

    bool ended(DWORD* exitCode) const
    {
        if (WaitForSingleObject(process_.hProcess, 20000) != WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(process_.hProcess, exitCode);
        return true;
    }
    bool running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }
    void terminate() const { TerminateProcess(process_.hProcess, 1); }

    HWND dialog = nullptr;
    HWND comPanel = nullptr;
    HWND lanPanel = nullptr;

private:
    std::set<DWORD> threads() const
    {
        std::set<DWORD> found;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
            if (entry.th32OwnerProcessID == process_.dwProcessId)
                found.insert(entry.th32ThreadID);
        CloseHandle(snapshot);
        return found;
    }

    bool started_ = false;
    PROCESS_INFORMATION process_{};
    std::set<DWORD> idleThreads_;
    std::set<DWORD> runThreads_;
};

// The text of a message box, without its icon.
std::wstring boxText(HWND box)
{
    for (HWND child : children(box))
        if (className(child) == L"Static" && !(GetWindowLongW(child, GWL_STYLE) & SS_ICON) &&
            !windowText(child).empty())
            return windowText(child);
    return {};
}

std::wstring caption(HWND window)
{
    return windowText(window);
}

// The size of the image beside the program: the progress bar's range is it plus 3.
LRESULT imageSize()
{
    std::wstring path = widen(environment("KT_DIALOG_EXE"));
    path = path.substr(0, path.find_last_of(L'\\') + 1) + L"kt58netcu.hex";
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return static_cast<LRESULT>(data.nFileSizeLow);
}

#define EXPECT_TEXT(actual, expected) EXPECT_EQ(narrow(actual), narrow(expected))

// The state before any run: the dialog as it opens.
void expectIdle(const Program& app)
{
    // Shortened test waits are never silent: the title says so.
    const std::string marked = environment("KT5CUFIRM_TEST_WAITS").empty() ? "" : " [test waits]";
    EXPECT_TEXT(caption(app.dialog),
                widen((japanese() ? "KT5CUfirm.exe\u3000Ver1.00" : "KT5CUfirm.exe Ver1.00") + marked));
    EXPECT_TEXT(app.field(IdStart), widen(japanese() ? "開始" : "Start"));
    EXPECT_TEXT(app.field(IdExit), widen(japanese() ? "終了" : "Exit"));
    EXPECT_TEXT(app.field(IdMethod), L"KT-58CU");
    EXPECT_TEXT(windowText(GetDlgItem(app.comPanel, IdComPort)), L"COM1");
    EXPECT_TEXT(windowText(GetDlgItem(app.lanPanel, IdTcpPort)), L"10001");
    EXPECT_TRUE(IsWindowVisible(app.comPanel));
    EXPECT_FALSE(IsWindowVisible(app.lanPanel));
    for (int id : {IdStatus, IdDeviceVersion, IdImageVersion})
        EXPECT_TEXT(app.field(id), L"") << id;
    EXPECT_EQ(app.progressPosition(), 0);
    EXPECT_EQ(app.enabled(), kAllEnabled);
}

// Reads the confirmation question and answers it.
void answerConfirmation(Program& app, int answer)
{
    HWND box = app.messageBox();
    ASSERT_NE(box, nullptr) << "no confirmation box";
    EXPECT_TEXT(caption(box), L"");
    EXPECT_TEXT(boxText(box), L"Ver 1.00 -> Ver 1.02\r\n" + text(1));
    // The run waits for the answer: the versions are shown, the controls are off.
    EXPECT_TEXT(app.field(IdDeviceVersion), L"Ver 1.00");
    EXPECT_TEXT(app.field(IdImageVersion), L"Ver 1.02");
    EXPECT_TEXT(app.status(), text(7));
    EXPECT_EQ(app.enabled(), kAllDisabled);
    ASSERT_NE(GetDlgItem(box, answer), nullptr);
    Program::click(GetDlgItem(box, answer));
    EXPECT_TRUE(waitUntil([&] { return app.findDialog(app.dialog) == nullptr; }));
}

// Waits for the final line of a run and checks what the run leaves behind.
void expectFinished(const Program& app, bool success, LRESULT maximum)
{
    const std::wstring final = text(success ? 32 : 33);
    EXPECT_TRUE(waitUntil([&] { return app.status() == final; })) << narrow(app.status());
    EXPECT_TRUE(waitUntil([&] { return app.enabled() == kAllEnabled; })) << app.enabled();
    EXPECT_EQ(app.progressPosition(), 0);
    EXPECT_EQ(app.progressMaximum(), maximum) << "the range stays";
    EXPECT_TRUE(app.runEnded()) << "the worker did not end";
}

// A whole update over the XPort and TCP, answering Yes. The emulator holds one
// record's reply back for a while, so the run can be watched half-way.
void networkUpdate(Program& app)
{
    app.chooseNetwork(L"127.0.0.1");
    Program::click(GetDlgItem(app.dialog, IdStart));
    answerConfirmation(app, IDYES);

    const LRESULT maximum = imageSize() + 3;
    ASSERT_TRUE(waitUntil([&] { return app.progressPosition() > 0; }));
    EXPECT_TEXT(app.status(), text(8));
    EXPECT_EQ(app.progressMaximum(), maximum);
    EXPECT_LT(app.progressPosition(), maximum);
    EXPECT_EQ(app.enabled(), kAllDisabled);

    // A close request while the run goes on changes nothing.
    send(app.dialog, WM_CLOSE);
    PostMessageW(app.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    app.press(VK_ESCAPE);
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(IsWindow(app.dialog));

    // While the XPort settles after the restore, the bar shows every record
    // written: it ends within the verify request's few bytes of its maximum.
    EXPECT_TRUE(waitUntil([&] { return app.status() == text(11); })) << narrow(app.status());
    EXPECT_GE(app.progressPosition(), maximum - 8);
    EXPECT_LE(app.progressPosition(), maximum);
    expectFinished(app, true, maximum);
    EXPECT_TEXT(app.field(IdDeviceVersion), L"Ver 1.00");
    EXPECT_TEXT(app.field(IdImageVersion), L"Ver 1.02");
    EXPECT_TRUE(app.running()) << "the program is still there after the close requests";
}

void expectEndsWithExitCode0(const Program& app)
{
    DWORD code = 99;
    ASSERT_TRUE(app.ended(&code)) << "the program did not end";
    EXPECT_EQ(code, 0u);
}

// Start refused with the error box of the text, and below it what was
// refused (nothing when empty); no run starts.
void expectRefused(Program& app, int id, const std::wstring& what)
{
    HWND box = app.messageBox();
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_TEXT(caption(box), text(30));
    EXPECT_TEXT(boxText(box), what.empty() ? text(id) : text(id) + L"\r\n\r\n" + what);
    EXPECT_EQ(app.enabled(), kAllEnabled) << "no run started";
    Program::click(GetDlgItem(box, IDOK));
    EXPECT_TRUE(waitUntil([&] { return app.findDialog(app.dialog) == nullptr; }));
    EXPECT_TEXT(app.status(), L"");
}

// An empty IP address is refused with an error box before any run starts.
void emptyAddressRefused(Program& app)
{
    app.chooseNetwork(L"");
    Program::click(GetDlgItem(app.dialog, IdStart));
    expectRefused(app, 17, L"");
}

TEST(Dialog, VersionRecordAndManifest)
{
    const std::wstring path = widen(environment("KT_DIALOG_EXE"));
    DWORD ignored = 0;
    std::vector<char> record(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(record.empty()) << "no version record";
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(record.size()), record.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(KT_VERSION_MAJOR << 16 | KT_VERSION_MINOR));
    EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(KT_VERSION_PATCH << 16));
    const auto value = [&](const wchar_t* language, const wchar_t* name) {
        wchar_t* found = nullptr;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\") + language + L"\\" + name;
        return VerQueryValueW(record.data(), key.c_str(), reinterpret_cast<void**>(&found), &length) ? narrow(found)
                                                                                                      : "";
    };
    for (const wchar_t* language : {L"040904B0", L"041104B0"}) {
        EXPECT_EQ(value(language, L"ProductName"), "KT5CUfirm");
        EXPECT_EQ(value(language, L"FileVersion"), KT_VERSION_NUMBER);
        EXPECT_EQ(value(language, L"ProductVersion"), KT_VERSION_TEXT);
        EXPECT_EQ(value(language, L"OriginalFilename"), "KT5CUfirm.exe");
    }
    EXPECT_EQ(value(L"040904B0", L"FileDescription"), "KT-58 firmware updater");
    EXPECT_EQ(value(L"041104B0", L"FileDescription"), "KT-58 ファームウェア更新ツール");

    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr) << "no icon";
    HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr) << "no manifest";
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                          SizeofResource(image, manifest));
    for (const char* part : {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\"",
                             "PerMonitorV2, PerMonitor", "true/pm", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    FreeLibrary(image);
}

TEST(Dialog, EmptyAddressIsRefusedAndEscEndsTheProgram)
{
    Program app;
    ASSERT_TRUE(app.ready());
    expectIdle(app);
    emptyAddressRefused(app);
    app.press(VK_ESCAPE);
    expectEndsWithExitCode0(app);
}

TEST(Dialog, ExitEndsTheProgram)
{
    Program app;
    ASSERT_TRUE(app.ready());
    Program::click(GetDlgItem(app.dialog, IdExit));
    expectEndsWithExitCode0(app);
}

TEST(Dialog, NetworkUpdate)
{
    Program app;
    ASSERT_TRUE(app.ready());
    expectIdle(app);
    networkUpdate(app);
    send(app.dialog, WM_CLOSE);
    expectEndsWithExitCode0(app);
}

TEST(Dialog, JapaneseDialogEndToEnd)
{
    ASSERT_TRUE(japanese()) << "run with KT_DIALOG_LANGUAGE=ja and a Japanese locale";
    Program app;
    ASSERT_TRUE(app.ready());
    expectIdle(app);
    emptyAddressRefused(app);
    networkUpdate(app);
    app.press(VK_ESCAPE);
    expectEndsWithExitCode0(app);
}

// Enter in the address field, which keeps the focus: Start takes the address
// as it stands.
TEST(Dialog, DeclinedUpdateWritesNothing)
{
    Program app;
    ASSERT_TRUE(app.ready());
    app.chooseNetwork(L"127.0.0.1");
    app.press(VK_RETURN);
    answerConfirmation(app, IDNO);
    expectFinished(app, false, app.progressMaximum());
    EXPECT_EQ(app.progressMaximum(), 100) << "the range was never set";
    Program::click(GetDlgItem(app.dialog, IdExit));
    expectEndsWithExitCode0(app);
}

TEST(Dialog, SilentDeviceShowsAnErrorBox)
{
    Program app;
    ASSERT_TRUE(app.ready());
    app.chooseNetwork(L"127.0.0.1");
    Program::click(GetDlgItem(app.dialog, IdStart));
    HWND box = app.messageBox();
    ASSERT_NE(box, nullptr) << "no error box";
    EXPECT_TEXT(caption(box), text(30));
    EXPECT_TEXT(boxText(box), text(28));
    EXPECT_EQ(app.enabled(), kAllDisabled) << "the run waits for the box";
    Program::click(GetDlgItem(box, IDOK));
    expectFinished(app, false, app.progressMaximum());
    EXPECT_TEXT(app.field(IdDeviceVersion), L"");
    Program::click(GetDlgItem(app.dialog, IdExit));
    expectEndsWithExitCode0(app);
}

// Start refuses a malformed address or port before anything is sent.
TEST(Dialog, MalformedAddressAndPortAreRefused)
{
    Program app;
    ASSERT_TRUE(app.ready());
    for (const wchar_t* address : {L"999.1.1.1", L"abc", L"192.168.0"}) {
        app.chooseNetwork(address);
        app.press(VK_RETURN);
        expectRefused(app, 17, address);
    }
    app.chooseNetwork(L"127.0.0.1", "70000");
    app.press(VK_RETURN);
    expectRefused(app, 18, L"70000");
}

// Start refuses a run without the image beside the program, naming its path
// (the program's folder has a Japanese name).
TEST(Dialog, MissingImageIsRefused)
{
    Program app;
    ASSERT_TRUE(app.ready());
    app.chooseNetwork(L"127.0.0.1");
    Program::click(GetDlgItem(app.dialog, IdStart));
    std::wstring path = widen(environment("KT_DIALOG_EXE"));
    expectRefused(app, 27, path.substr(0, path.find_last_of(L'\\') + 1) + L"kt58netcu.hex");
}

// A kept XPort record that cannot be used (a folder at its path) refuses
// Start with the XPort's error box: nothing is sent, no run starts.
TEST(Dialog, UnusableKeptRecordRefusesStart)
{
    const std::wstring folder = std::wstring(_wgetenv(L"LOCALAPPDATA")) + L"\\kt5cufirm";
    const std::wstring record = folder + L"\\xport-127.0.0.1.setup";
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CreateDirectoryW(record.c_str(), nullptr));
    Program app;
    ASSERT_TRUE(app.ready());
    app.chooseNetwork(L"127.0.0.1");
    Program::click(GetDlgItem(app.dialog, IdStart));
    HWND box = app.messageBox();
    EXPECT_NE(box, nullptr) << "no error box";
    if (box != nullptr) {
        EXPECT_TEXT(caption(box), text(30));
        EXPECT_TEXT(boxText(box), text(13));
        EXPECT_EQ(app.enabled(), kAllEnabled) << "no run started";
        Program::click(GetDlgItem(box, IDOK));
        EXPECT_TRUE(waitUntil([&] { return app.findDialog(app.dialog) == nullptr; }));
    }
    RemoveDirectoryW(record.c_str());
    EXPECT_TEXT(app.status(), L"");
    Program::click(GetDlgItem(app.dialog, IdExit));
    expectEndsWithExitCode0(app);
}

// A network run ended by force at its question, after the switch: the
// XPort's true setup stays kept for the next run of either program (the
// script puts it back with kt5cufirm --restore-xport).
TEST(Dialog, KilledAfterTheSwitch)
{
    Program app;
    ASSERT_TRUE(app.ready());
    app.chooseNetwork(L"127.0.0.1");
    Program::click(GetDlgItem(app.dialog, IdStart));
    ASSERT_NE(app.messageBox(), nullptr) << "no confirmation box";
    EXPECT_NE(GetFileAttributesW((std::wstring(_wgetenv(L"LOCALAPPDATA")) +
                                  L"\\kt5cufirm\\xport-127.0.0.1.setup").c_str()),
              INVALID_FILE_ATTRIBUTES)
        << "the setup is kept";
}  // the program is ended by force here

// KT-58CU on a COM port: the port typed in lower case, Start pressed with
// Enter while the field keeps the focus, a close request while the question
// is open.
TEST(Dialog, SerialUpdateStartedWithEnter)
{
    Program app;
    ASSERT_TRUE(app.ready());
    const int com = std::atoi(environment("KT_COM").c_str());
    ASSERT_GE(com, 1);
    app.type(app.comPanel, IdComPort, widen("com" + std::to_string(com)).c_str());
    app.press(VK_RETURN);
    HWND box = app.messageBox();
    ASSERT_NE(box, nullptr);
    send(app.dialog, WM_CLOSE);
    EXPECT_TRUE(app.running());
    EXPECT_EQ(app.findDialog(app.dialog), box) << "the question stays";
    answerConfirmation(app, IDYES);
    expectFinished(app, true, imageSize() + 3);
    send(app.dialog, WM_CLOSE);
    expectEndsWithExitCode0(app);
}

// Brings the dialog into a state to photograph and holds it there.
int pose(const std::string& state)
{
    Program app;
    if (!app.ready())
        return 1;
    if (state == "idle")
        app.chooseNetwork(L"192.168.0.50", "10001");
    if (state == "running") {
        app.choose(app.comPanel, IdComPort, std::atoi(environment("KT_COM").c_str()) - 1);
        Program::click(GetDlgItem(app.dialog, IdStart));
        HWND box = app.messageBox();
        if (box == nullptr)
            return 1;
        Program::click(GetDlgItem(box, IDYES));
        if (!waitUntil([&] { return app.progressPosition() > 0; }))
            return 1;
    }
    // Let the controls finish painting.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RECT area{};
    GetWindowRect(app.dialog, &area);
    std::printf("ready %ld %ld %ld %ld\n", area.left, area.top, area.right - area.left, area.bottom - area.top);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    app.terminate();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--pose")
        return pose(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
