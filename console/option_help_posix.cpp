#include "command_line.h"
#include "option_help.h"

const PlatformHelp& platformHelp()
{
    static const PlatformHelp help = {
        "PATH",
        "--com N\tserial port COM N (on Linux /dev/ttyS<N-1>)",
        "--device PATH\tserial device to use instead, e.g. a USB adapter's stable\n"
        "\tname /dev/serial/by-id/usb-...-if00-port0 (see --list-ports)",
        "Ctrl-C (SIGINT, SIGTERM, SIGHUP) stops after the current record and puts the\n"
        "XPort's setup back first; a third one ends the program at once.\n",
        "--com N\tシリアルポート COM N（Linux では /dev/ttyS<N-1>）",
        "--device PATH\t代わりに使うシリアルデバイス。例えば USB アダプターの固定名\n"
        "\t/dev/serial/by-id/usb-...-if00-port0（--list-ports を参照）",
        "Ctrl-C（SIGINT、SIGTERM、SIGHUP）は現在のレコードの後で停止し、先に XPort の\n"
        "設定を元に戻します。3 回目でただちに終了します。\n",
    };
    return help;
}

bool serialRunNeedsAPort()
{
    return true;
}
