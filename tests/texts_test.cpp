// The text table against the texts the program must show, byte for byte, and
// the lines built from it.
#include <gtest/gtest.h>

#include <cstdlib>

#include "test_support.h"
#include "texts.h"
#include "ui_language.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct Text {
    unsigned id;
    const char* english;
    const char* japanese;  // UTF-8
};

const Text kTexts[] = {
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
    {40, "The update cannot start: the program could not make its command event.",
     "コマンドイベントを作成できないため、アップデートを開始できません。"},
    {32, "Firmware update was complete.", "ファームアップデートが完了しました。"},
    {33, "Firmware update was not able to be completed normally.", "ファームアップデートが正常に完了できませんでした。"},
};

#ifdef _WIN32
// What LoadStringA gives for a Japanese text: its bytes in the ANSI code page (932).
std::string windowBytes(const char* utf8)
{
    wchar_t wide[512];
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512);
    char narrow[1024];
    const int m = WideCharToMultiByte(CP_ACP, 0, wide, n, narrow, sizeof narrow, nullptr, nullptr);
    return std::string(narrow, m > 0 ? static_cast<size_t>(m - 1) : 0);
}

// Under Wine the prefix decides the interface language; the Japanese run says so.
bool useLanguage(bool japanese)
{
    return japanese == (std::getenv("KT_EXPECT_JAPANESE") != nullptr);
}
#else
std::string windowBytes(const char* utf8) { return utf8; }

// Sets, or for null unsets, the variables the language is chosen by.
void setLocale(const char* lcAll, const char* lcMessages, const char* lang)
{
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    const char* values[] = {lcAll, lcMessages, lang};
    for (int i = 0; i < 3; ++i) {
        if (values[i])
            setenv(names[i], values[i], 1);
        else
            unsetenv(names[i]);
    }
}

bool useLanguage(bool japanese)
{
    setLocale(nullptr, nullptr, japanese ? "ja_JP.UTF-8" : "en_US.UTF-8");
    return true;
}

TEST(TextLanguage, FirstSetNonEmptyVariableDecides)
{
    struct Case {
        const char *lcAll, *lcMessages, *lang;
        bool japanese;
    };
    for (const Case& c : {Case{nullptr, nullptr, "ja_JP.UTF-8", true}, Case{"C", nullptr, "ja_JP.UTF-8", false},
                          Case{"", "ja_JP.eucJP", "en_US.UTF-8", true}, Case{nullptr, "en_GB", "ja_JP.UTF-8", false},
                          Case{nullptr, "", "ja", true}, Case{nullptr, nullptr, nullptr, false}}) {
        setLocale(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(japaneseInterface(), c.japanese) << c.lcAll << "|" << c.lcMessages << "|" << c.lang;
    }
}
#endif

void expectEveryId(bool japanese)
{
    if (!useLanguage(japanese))
        GTEST_SKIP() << "the interface is in the other language";
    ASSERT_EQ(japaneseInterface(), japanese);
#ifdef _WIN32
    if (japanese) {
        ASSERT_EQ(GetACP(), 932u);
    }
#endif
    for (const Text& text : kTexts)
        EXPECT_EQ(loadText(text.id), japanese ? windowBytes(text.japanese) : text.english) << "id " << text.id;
    for (unsigned unused : {4u, 21u, 25u, 31u, 34u})
        EXPECT_EQ(loadText(unused), "") << "id " << unused;
}

TEST(TextTable, EveryIdInEnglish) { expectEveryId(false); }
TEST(TextTable, EveryIdInJapanese) { expectEveryId(true); }

TEST(TextLines, VersionsErrorNumbersAndTheConfirmation)
{
    if (!useLanguage(false))
        GTEST_SKIP();
    EXPECT_EQ(versionText(0x1A, 0x00), "Ver 1A.00");
    EXPECT_EQ(versionText(0x00, 0xFF), "Ver 0.FF");
    EXPECT_EQ(versionText(0xFF, 0x0B), "Ver FF.0B");
    UpdateContext ctx{};
    struct Error {
        int32_t code;
        int number;
        const char* message;
    };
    for (const Error& e : {Error{ErrConnect, 10061, "Connect failure. (code=10061)"},
                           Error{ErrLinkOpen, -2, "Connect failure. (code=-2)"},
                           Error{ErrSend, 10057, "Send error (code = 10057)"},
                           Error{ErrUdpBind, 10048, "UDP socket open error."}}) {
        ctx.errorCode = e.code;
        EXPECT_EQ(errorMessage(ctx, e.number), e.message);
    }
    ctx.deviceVersion[kDeviceVersionMajor] = 1;
    ctx.deviceVersion[kDeviceVersionMinor] = 5;
    ctx.imageMajor = 1;
    ctx.imageMinor = 0x10;
    EXPECT_EQ(confirmationText(ctx), "Ver 1.05 -> Ver 1.10\r\nIs the firmware updated?");
}

TEST(TextLines, EveryStatusAndErrorCodeHasItsText)
{
    const std::pair<int32_t, unsigned> statuses[] = {
        {StConnecting, 5}, {StDisconnecting, 6}, {StReading, 7},         {StWriting, 8},  {StErasing, 9},
        {StXportChanging, 10}, {StXportRestoring, 11}, {StQuitting, 12}, {StConfirmed, 0}, {StDeclined, 0}};
    for (auto [code, id] : statuses)
        EXPECT_EQ(statusTextId(code), id) << "status " << code;
    const std::pair<int32_t, unsigned> errors[] = {
        {ErrXportChange, 13}, {ErrXportRestore, 14}, {ErrWrite, 15},    {ErrSocketInit, 16}, {ErrNoAddress, 17},
        {ErrNoPort, 18},      {ErrSocketCreate, 19}, {ErrConnect, 26},  {ErrSend, 20},       {ErrUdpSocketCreate, 22},
        {ErrUdpBind, 23},     {ErrUdpSend, 24},      {ErrLinkOpen, 26}, {ErrImageRead, 27},  {ErrUpdateMode, 28},
        {ErrImageFormat, 29}, {ErrCommandChannel, 40}, {0, 0},          {10, 0},             {13, 0},
        {20, 0}};
    for (auto [code, id] : errors)
        EXPECT_EQ(errorTextId(code), id) << "error " << code;
}

} // namespace
