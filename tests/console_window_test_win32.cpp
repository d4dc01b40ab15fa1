// kt5cufirm-cli.exe as a Windows program: started as Explorer starts it, with
// a console of its own, its window stays until Enter is pressed; its own
// resources. Usage: console_window_test PROGRAM.EXE
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring program;

struct Child {
    PROCESS_INFORMATION process{};
    bool started = false;

    explicit Child(HANDLE input)
    {
        std::wstring command = L"\"" + program + L"\" --version";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (input != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = input;
        }
        started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, input != nullptr, CREATE_NEW_CONSOLE,
                                 nullptr, nullptr, &startup, &process) != 0;
    }
    ~Child()
    {
        if (!started)
            return;
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    bool endsWithin(DWORD ms) const { return WaitForSingleObject(process.hProcess, ms) == WAIT_OBJECT_0; }

    // Enter typed into the child's console.
    bool pressEnter() const
    {
        FreeConsole();
        if (!AttachConsole(process.dwProcessId))
            return false;
        const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr);
        INPUT_RECORD keys[2] = {};
        for (int i = 0; i < 2; ++i) {
            keys[i].EventType = KEY_EVENT;
            keys[i].Event.KeyEvent.bKeyDown = i == 0;
            keys[i].Event.KeyEvent.wRepeatCount = 1;
            keys[i].Event.KeyEvent.wVirtualKeyCode = VK_RETURN;
            keys[i].Event.KeyEvent.uChar.UnicodeChar = L'\r';
        }
        DWORD written = 0;
        const bool sent = WriteConsoleInputW(input, keys, 2, &written) && written == 2;
        CloseHandle(input);
        FreeConsole();
        return sent;
    }
};

TEST(ConsoleWindow, OwnConsoleStaysUntilEnter)
{
    Child child(nullptr);
    ASSERT_TRUE(child.started);
    EXPECT_FALSE(child.endsWithin(3000)) << "the window closed without waiting";
    ASSERT_TRUE(child.pressEnter());
    ASSERT_TRUE(child.endsWithin(20000)) << "Enter did not close it";
    DWORD code = 99;
    GetExitCodeProcess(child.process.hProcess, &code);
    EXPECT_EQ(code, 0u);
}

TEST(ConsoleWindow, InputFromAFileDoesNotWait)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE empty = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                     OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(empty, INVALID_HANDLE_VALUE);
    Child child(empty);
    CloseHandle(empty);
    ASSERT_TRUE(child.started);
    EXPECT_TRUE(child.endsWithin(20000));
}

// The program's own resources: version record, manifest and icon.
TEST(ConsoleWindow, VersionRecordManifestAndIcon)
{
    DWORD ignored = 0;
    std::vector<char> record(GetFileVersionInfoSizeW(program.c_str(), &ignored));
    ASSERT_FALSE(record.empty()) << "no version record";
    ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(record.size()), record.data()));
    for (const wchar_t* language : {L"040904B0", L"041104B0"}) {
        wchar_t* name = nullptr;
        UINT length = 0;
        const std::wstring key = std::wstring(L"\\StringFileInfo\\") + language + L"\\OriginalFilename";
        ASSERT_TRUE(VerQueryValueW(record.data(), key.c_str(), reinterpret_cast<void**>(&name), &length));
        EXPECT_EQ(std::wstring(name), L"kt5cufirm-cli.exe");
    }
    HMODULE image = LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    EXPECT_NE(FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(14)), nullptr) << "no icon";
    HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(manifest, nullptr) << "no manifest";
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                          SizeofResource(image, manifest));
    for (const char* part : {">UTF-8</activeCodePage>", ">true</longPathAware>", "level=\"asInvoker\""})
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    FreeLibrary(image);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: console_window_test PROGRAM.EXE\n");
        return 2;
    }
    // A Unix path, as CTest gives it, on Wine's drive for the Unix root.
    std::string path = argv[1];
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    program.assign(path.begin(), path.end());
    return RUN_ALL_TESTS();
}
