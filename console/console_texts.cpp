#include "console_texts.h"

#include "console_platform.h"
#include "console_text.h"
#include "ui_language.h"

namespace {

struct Entry {
    const char* english;
    const char* japanese;
};

// In ConsoleText's order.
const Entry kTexts[] = {
    {"kt5cufirm: stopping after the current record; the XPort setting is put back first",
     "kt5cufirm: 現在のレコードの後で停止します。先にXPortの設定を元に戻します"},
    {"kt5cufirm: stopping after the current record",
     "kt5cufirm: 現在のレコードの後で停止します"},
    {"kt5cufirm: the clean-up is still running; a third interrupt ends the program at once",
     "kt5cufirm: 後処理を実行中です。もう一度中断するとただちに終了します"},
    {"kt5cufirm: ended at once", "kt5cufirm: ただちに終了しました"},
    {"the device was not changed", "デバイスは変更されていません"},
    {"the device was updated", "デバイスは更新されました"},
    {"the device was erased but not completely written and verified: run the update again",
     "デバイスは消去されましたが、書き込みと確認が完了していません。もう一度アップデートを実行してください"},
    {"the XPort's setup could not be put back: run kt5cufirm --restore-xport --ip {}",
     "XPortの設定を元に戻せませんでした。kt5cufirm --restore-xport --ip {} を実行してください"},
    {"the XPort's setup was put back", "XPortの設定を元に戻しました"},
    {"kt5cufirm: an XPort setup kept by an interrupted run was found for {}; its byte 21 ({}) is put back at the end",
     "kt5cufirm: 中断された実行が保存した{}のXPort設定が見つかりました。終了時にそのバイト21（{}）を書き戻します"},
    {"kt5cufirm: the XPort's setup cannot be kept in {} ({}); the XPort is not changed",
     "kt5cufirm: XPortの設定を{}に保存できません（{}）。XPortは変更しません"},
    {"kt5cufirm: the kept XPort setup {} cannot be read; put the XPort's setup back by hand, then remove the file",
     "kt5cufirm: 保存されたXPort設定{}を読み込めません。XPortの設定を手で元に戻してから、このファイルを削除してください"},
    {"kt5cufirm: no XPort setup is kept for {} (in {}): nothing to put back",
     "kt5cufirm: {}のXPort設定は保存されていません（{}）。元に戻すものはありません"},
    {"XPort setting was put back.", "XPortの設定を元に戻しました。"},
    {"XPort setting was not put back.", "XPortの設定を元に戻せませんでした。"},
    {"kt5cufirm: warning: KT5CUFIRM_TEST_WAITS is set: replies are awaited {} ms and the XPort settles {} ms "
     "(for tests only)",
     "kt5cufirm: 警告: KT5CUFIRM_TEST_WAITS が設定されています。応答待ち {} ms、XPortの安定待ち {} ms（テスト専用）"},
    {"kt5cufirm: warning: {}", "kt5cufirm: 警告: {}"},
    {"kt5cufirm: the image {} cannot be used: {}", "kt5cufirm: ファームウェアファイル{}は使用できません: {}"},
    {"{}: {}", "{}: {}"},
    {"Checked: the device has {}, the image {}; nothing was erased.",
     "確認しました: デバイスは {}、ファームウェアファイルは {} です。何も消去していません。"},
    {"The check was not able to be completed.", "確認を完了できませんでした。"},
    {"written {}% ({}/{} bytes)", "書き込み {}% ({}/{} バイト)"},
    {"XPort settling: {} s left", "XPort 安定待ち: 残り {} 秒"},
    {"kt5cufirm: no serial ports found", "kt5cufirm: シリアルポートが見つかりません"},
    {"kt5cufirm: the trace cannot be written to {}: {}", "kt5cufirm: トレースを{}に書き込めません: {}"},
    {"Update {} KT-58NET units to {}?", "{}台のKT-58NETを{}に更新しますか？"},
    {"kt5cufirm: no unit was changed.", "kt5cufirm: どの台も変更されていません。"},
    {"Left alone: the device has {} already (the image: {}).", "更新しません。デバイスはすでに{}です（イメージ: {}）。"},
    {"kt5cufirm: {} of {} units did not end complete or skipped; their states are in the summary",
     "kt5cufirm: 完了またはスキップで終わらなかった台が{}台あります（全{}台）。状態は一覧のとおりです"},
    {"kt5cufirm: no image was given and none lies beside the program: name the image file with --image PATH",
     "kt5cufirm: ファームウェアファイルが指定されず、プログラムと同じフォルダにもありません。--image PATH で指定してください"},
};
static_assert(sizeof kTexts / sizeof kTexts[0] == static_cast<size_t>(ConsoleText::NoImageGiven) + 1,
              "one entry per text");

} // namespace

std::string consoleText(ConsoleText id, std::initializer_list<std::string> values)
{
    const Entry& entry = kTexts[static_cast<int>(id)];
    std::string text = japaneseInterface() ? entry.japanese : entry.english;
    size_t at = 0;
    for (const std::string& value : values) {
        at = text.find("{}", at);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, value);
        at += value.size();
    }
    return toConsoleText(text);
}

std::string sentence(std::initializer_list<std::string> parts)
{
    const bool japanese = japaneseInterface();
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        if (!text.empty())
            text += japanese ? toConsoleText("。") : "; ";
        text += part;
    }
    return text + (japanese ? toConsoleText("。") : ".");
}

void sayLine(std::FILE* stream, const std::string& text)
{
    const std::string whole = text + "\n";
    writeConsoleText(stream, whole, whole);
    std::fflush(stream);
}

void sayLine(std::FILE* stream, ConsoleText id, std::initializer_list<std::string> values)
{
    sayLine(stream, consoleText(id, values));
}
