// The text table against the texts the program must show, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "command_view.h"
#include "test_support.h"
#include "texts.h"
#include "ui_language.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Expected {
    unsigned id;
    const char* english;
    const char* japanese;  // UTF-8
};

const Expected kExpected[] = {
    {1, "Is the firmware updated?", "ファームのアップデートを開始しますか?"},
    {2, "Firmware upgrade was completed.\r\n", "ファームアップデートが成功しました。\r\n"},
    {3, "Failed to firmware upgrade!\r\n", "ファームアップデートに失敗しました。!!\r\n"},
    {5, "Connectinng...\r\n", "接続しています。\r\n"},
    {6, "Disconnecting...\r\n", "切断しています。\r\n"},
    {7, "Read processing...\r\n", "ファーム読み込み処理中\r\n"},
    {8, "Write processing...\r\n", "ファーム書き込み処理中\r\n"},
    {9, "Data erasing... \r\n", "消去中\r\n"},
    {10, "XPort setting is changed temporarily.\r\n", "XPort 設定を一時的に変更しています。\r\n"},
    {11, "Restore XPort setting.\r\n", "XPort 設定を戻しています。\r\n"},
    {12, "Quit firmware mode.\r\n", "ファームアップデートモードを終了します。\r\n"},
    {13, "Failed to change XPort setting.\r\n", "XPortの設定変更に失敗しました。"},
    {14, "Failed to restore the XPort setting.\r\n", "XPortの設定を戻す事ができませんでした。"},
    {15, "Failed in writing the firmware.\r\n", "ファームの書き込みに失敗しました。"},
    {16, "Socket initialize error\r\n", "ソケットの初期化に失敗しました。"},
    {17,
     "In the specified connection method, inputting in the IPaddress item is necessary.\n"
     "Please input a IP address into the item.",
     "IPアドレスが無効です。"},
    {18,
     "In the specified connection method, inputting in the Port item is necessary.\n"
     "Please input a port number into the item.",
     "ポート番号が無効です。"},
    {19, "Create socket failed.", "ソケットの作成に失敗しました。"},
    {20, "Send error (code = %d)", "送信エラー (code = %d)"},
    {22, "Create UDP socket failed.", "UDPソケットの作成に失敗しました。"},
    {23, "UDP socket open error.", "UDPソケットをオープンできませんでした。"},
    {24, "Send UDP error.", "UDP送信エラー."},
    {26, "Connect failure. (code=%d)", "接続に失敗しました。(code=%d)"},
    {27, "Read error loading firmware file.", "ファームウェアファイルの読み込みに失敗しました。"},
    {28, "Can not enters firmware updated mode.", "ファームウェアアップデートモードに入れませんでした。"},
    {29, "Firmware file error.", "ファームウェアファイルが正しくありません。"},
    {30, "Error", "エラー"},
    {32, "Firmware update was complete.", "ファームアップデートが完了しました。"},
    {33, "Firmware update was not able to be completed normally.",
     "ファームアップデートが正常に完了できませんでした。"},
};

// The bytes the window receives for a Japanese text: UTF-8 on POSIX, the
// ANSI code page (932) through LoadStringA on Windows.
#ifdef _WIN32
std::string windowBytes(const char* utf8)
{
    wchar_t wide[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char narrow[1024];
    int m = WideCharToMultiByte(CP_ACP, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
    return std::string(narrow, m > 0 ? static_cast<size_t>(m - 1) : 0);
}
#endif

#ifndef _WIN32
// Sets the locale variables for one test and puts the old ones back.
class LocaleScope {
public:
    LocaleScope(const char* lcAll, const char* lcMessages, const char* lang)
    {
        for (const char* name : kNames) {
            const char* old = std::getenv(name);
            saved_.push_back(old ? std::optional<std::string>(old) : std::nullopt);
        }
        set("LC_ALL", lcAll);
        set("LC_MESSAGES", lcMessages);
        set("LANG", lang);
    }
    ~LocaleScope()
    {
        for (size_t i = 0; i < 3; ++i)
            set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }

private:
    static void set(const char* name, const char* value)
    {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};
#endif

bool expectJapanese()
{
    return std::getenv("KT_EXPECT_JAPANESE") != nullptr;
}

} // namespace

#ifndef _WIN32
TEST(TextLanguage, FirstSetVariableDecidesAsPosixDoes)
{
    {
        LocaleScope scope(nullptr, nullptr, "ja_JP.UTF-8");
        EXPECT_TRUE(japaneseInterface());
    }
    {
        LocaleScope scope("C", nullptr, "ja_JP.UTF-8");
        EXPECT_FALSE(japaneseInterface());
    }
    {
        LocaleScope scope("", "ja_JP.eucJP", "en_US.UTF-8");
        EXPECT_TRUE(japaneseInterface()) << "an empty LC_ALL does not count";
    }
    {
        LocaleScope scope(nullptr, "en_GB.UTF-8", "ja_JP.UTF-8");
        EXPECT_FALSE(japaneseInterface());
    }
    {
        LocaleScope scope(nullptr, nullptr, nullptr);
        EXPECT_FALSE(japaneseInterface());
    }
}

TEST(TextTable, EveryIdInEnglish)
{
    LocaleScope scope(nullptr, nullptr, "en_US.UTF-8");
    for (const Expected& text : kExpected)
        EXPECT_EQ(loadText(text.id), text.english) << "id " << text.id;
    EXPECT_EQ(loadText(4), "");
    EXPECT_EQ(loadText(31), "");
}

TEST(TextTable, EveryIdInJapanese)
{
    LocaleScope scope(nullptr, nullptr, "ja_JP.UTF-8");
    for (const Expected& text : kExpected)
        EXPECT_EQ(loadText(text.id), text.japanese) << "id " << text.id;
}
#else
TEST(TextTable, EveryIdInTheStringTable)
{
    if (expectJapanese())
        GTEST_SKIP() << "run by the Japanese test";
    EXPECT_FALSE(japaneseInterface());
    for (const Expected& text : kExpected)
        EXPECT_EQ(loadText(text.id), text.english) << "id " << text.id;
    EXPECT_EQ(loadText(4), "");
}

TEST(TextTable, EveryIdInTheJapaneseStringTable)
{
    if (!expectJapanese())
        GTEST_SKIP() << "needs a Japanese user interface";
    ASSERT_TRUE(japaneseInterface());
    ASSERT_EQ(GetACP(), 932u);
    for (const Expected& text : kExpected)
        EXPECT_EQ(loadText(text.id), windowBytes(text.japanese)) << "id " << text.id;
}
#endif

TEST(TextFormats, VersionsShowMajorBareAndMinorAsTwoDigits)
{
    EXPECT_EQ(versionText(0x1A, 0x00), "Ver 1A.00");
    EXPECT_EQ(versionText(0x00, 0xFF), "Ver 0.FF");
    EXPECT_EQ(versionText(0x01, 0x02), "Ver 1.02");
    EXPECT_EQ(versionText(0xFF, 0x0B), "Ver FF.0B");
}

TEST(TextFormats, StatusAndErrorCodesMapToTheirTexts)
{
    const std::pair<int32_t, unsigned> statuses[] = {{StConnecting, 5}, {StDisconnecting, 6}, {StReading, 7},
                                                     {StWriting, 8},    {StErasing, 9},       {StXportChanging, 10},
                                                     {StXportRestoring, 11}, {StQuitting, 12}};
    for (auto [code, id] : statuses)
        EXPECT_EQ(statusTextId(code), id) << "status " << code;
    EXPECT_EQ(statusTextId(StConfirmed), 0u);
    EXPECT_EQ(statusTextId(StDeclined), 0u);

    const std::pair<int32_t, unsigned> errors[] = {
        {ErrXportChange, 13}, {ErrXportRestore, 14}, {ErrWrite, 15},    {ErrSocketInit, 16}, {ErrNoAddress, 17},
        {ErrNoPort, 18},      {ErrSocketCreate, 19}, {ErrConnect, 26},  {ErrSend, 20},       {ErrUdpSocketCreate, 22},
        {ErrUdpBind, 23},     {ErrUdpSend, 24},      {ErrLinkOpen, 26}, {ErrImageRead, 27},  {ErrUpdateMode, 28},
        {ErrImageFormat, 29}};
    for (auto [code, id] : errors)
        EXPECT_EQ(errorTextId(code), id) << "error " << code;
    for (int32_t unused : {0, 10, 13, 15, 20})
        EXPECT_EQ(errorTextId(unused), 0u);
}

class ShownTexts : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (expectJapanese())
            GTEST_SKIP();
#ifndef _WIN32
        setenv("LC_ALL", "C", 1);
#endif
        std::memset(&ctx, 0, sizeof ctx);
    }
    void TearDown() override
    {
#ifndef _WIN32
        unsetenv("LC_ALL");
#endif
    }
    UpdateContext ctx;
    RecordingView view;
};

TEST_F(ShownTexts, ErrorNumbersAreSignedDecimal)
{
    ctx.errorCode = ErrConnect;
    EXPECT_EQ(errorMessage(ctx, 10061), "Connect failure. (code=10061)");
    ctx.errorCode = ErrLinkOpen;
    EXPECT_EQ(errorMessage(ctx, -2), "Connect failure. (code=-2)");
    ctx.errorCode = ErrSend;
    EXPECT_EQ(errorMessage(ctx, 10057), "Send error (code = 10057)");
    ctx.errorCode = ErrUdpBind;
    EXPECT_EQ(errorMessage(ctx, 10048), "UDP socket open error.");
}

TEST_F(ShownTexts, ConfirmationShowsDeviceThenImageVersion)
{
    ctx.deviceVersion[kDeviceVersionMajor] = 1;
    ctx.deviceVersion[kDeviceVersionMinor] = 5;
    ctx.imageMajor = 1;
    ctx.imageMinor = 0x10;
    EXPECT_EQ(confirmationText(ctx), "Ver 1.05 -> Ver 1.10\r\nIs the firmware updated?");
}
