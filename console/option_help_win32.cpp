#include "command_line.h"
#include "option_help.h"

const PlatformHelp& platformHelp()
{
    static const PlatformHelp help = {
        "COMn",
        "--com N\tserial port COM N; default 1",
        "--device COMn\tserial port to use instead, by its name, e.g. COM12\n"
        "\t(see --list-ports)",
        "Ctrl-C, Ctrl-Break or closing the console window stops after the current\n"
        "record and puts the XPort's setup back first; a third one ends the program\n"
        "at once.\n",
        "--com N\tシリアルポート COM N。既定は 1",
        "--device COMn\t代わりに使うシリアルポートの名前。例 COM12\n"
        "\t（--list-ports を参照）",
        "Ctrl-C、Ctrl-Break またはコンソールウィンドウを閉じると、現在のレコードの後で\n"
        "停止し、先に XPort の設定を元に戻します。3 回目でただちに終了します。\n",
    };
    return help;
}

bool serialRunNeedsAPort()
{
    return false;  // COM1, the dialog's default too
}
