#include "command_line.h"

#include <algorithm>

#include <CLI/CLI.hpp>

#include <cctype>

#include "host_address.h"
#include "option_help.h"

namespace {

// The usage lines; the device's value as the platform names a serial port.
std::string usageLines()
{
    const std::string device = platformHelp().deviceValue;
    return "Usage: kt5cufirm (--device " + device + " | --com N) [--image PATH] [-y] [-q] [-v]\n"
           "                 [--check] [--trace[=FILE]]\n"
           "       kt5cufirm --ip ADDR [--tcp-port N] [--image PATH] [-y] [-q] [-v] [--check]\n"
           "                 [--trace[=FILE]]\n"
           "       (and with an update or a check: [--expect-sha256 HEX])\n"
           "       kt5cufirm [--ip ADDR]... [--hosts FILE] [--tcp-port N] [--if-newer]\n"
           "                 [--report FILE] [--keep-going | --stop-on-error] [--image PATH]\n"
           "                 [-y] [-q] [-v] [--trace[=FILE]] [--parallel N] [--log-dir DIR]\n"
           "       kt5cufirm --device " + device + " --device " + device +
           "... (or --com N --com N...) [fleet options]\n"
           "       kt5cufirm --retry REPORT [fleet options]\n"
           "       kt5cufirm --check [--image PATH]\n"
           "       kt5cufirm --restore-xport --ip ADDR\n"
           "       kt5cufirm --discover [RANGE...] [--hosts FILE] [--interface NAME] [-q] [--report FILE]\n"
           "       kt5cufirm --list-ports | --help | --version\n";
}

constexpr const char* kHelpHead =
    "Replaces the firmware of a KT-58 interface with the image kt58netcu.hex.\n"
    "Options take their value as --opt VALUE or --opt=VALUE.\n"
    "\n";

constexpr const char* kFleetHead = "\nMany units, one after another or side by side (a fleet):\n";

constexpr const char* kHelpMiddle =
    "A fleet asks once for the whole list (unless --yes), prefixes each unit's\n"
    "lines with [ADDR] and ends with a summary table on standard output.\n"
    "\n"
    "The image is checked before any device or XPort is touched. Progress goes to\n"
    "standard error: a bar on a terminal, else a line at every 10 %.\n"
    "--ip means a KT-58NET, --device or --com a KT-58CU; --method may say the same.\n"
    "A run that would ask before the erase needs a terminal to ask on, else --yes.\n";

constexpr const char* kHelpTail =
    "\n"
    "Exit status:\n"
    "  0  the update was complete, and a switched XPort was put back (--check: the\n"
    "     image, and the device when given, were checked)\n"
    "  1  the device was not changed: refused, declined, cancelled or failed\n"
    "     before the erase (also a bad image, or another run on the same XPort)\n"
    "  2  usage error, also a run that would ask with no terminal to ask on\n"
    "     and no --yes (nothing was sent)\n"
    "  3  the device was erased but not completely written and verified:\n"
    "     run the update again\n"
    "  4  the XPort's setup could not be put back (before 0, 1 and 3), or a kept\n"
    "     setup cannot be used (then nothing was sent; the message says what to do):\n"
    "     run kt5cufirm --restore-xport --ip ADDR\n"
    "A fleet exits with the worst of its units' statuses in the order 4, 3, 1, 0;\n"
    "a unit skipped by --if-newer counts 0, one not attempted 1.\n";

constexpr const char* kHelpHeadJapanese =
    "KT-58 インターフェースのファームウェアをファームウェアファイル kt58netcu.hex で置き換えます。\n"
    "オプションの値は --opt VALUE または --opt=VALUE で指定します。\n"
    "\n";

constexpr const char* kFleetHeadJapanese = "\n複数の台を順に、または同時に更新する（フリート）:\n";

constexpr const char* kHelpMiddleJapanese =
    "フリートは一覧全体について一度だけ確認し（--yes がなければ）、各台の行の先頭に\n"
    "[ADDR] を付け、最後に標準出力に一覧表を出します。\n"
    "\n"
    "ファームウェアファイルはデバイスや XPort に触れる前に検査します。進捗は標準エラー\n"
    "出力に出ます。端末ではバー、それ以外では 10 % ごとに 1 行です。\n"
    "--ip は KT-58NET、--device と --com は KT-58CU を意味します。--method は同じ意味を\n"
    "重ねて指定できます。消去の前に確認する実行には、確認できる端末か --yes が必要です。\n";

constexpr const char* kHelpTailJapanese =
    "\n"
    "終了ステータス:\n"
    "  0  アップデートが完了し、切り替えた XPort を元に戻した（--check: ファーム\n"
    "     ウェアファイルと、指定があればデバイスを確認した）\n"
    "  1  デバイスは変更されていない: 拒否、中止、中断、または消去前の失敗\n"
    "     （不正なファームウェアファイル、同じ XPort を処理中の別の実行を含む）\n"
    "  2  使い方の誤り。確認できる端末も --yes もない実行も含む（何も送信していない）\n"
    "  3  デバイスは消去されたが、書き込みと確認が完了していない:\n"
    "     もう一度アップデートを実行する\n"
    "  4  XPort の設定を元に戻せなかった（0、1、3 より優先）、または保存された設定を\n"
    "     使用できない（このときは何も送信していない。メッセージに対処を示す）:\n"
    "     kt5cufirm --restore-xport --ip ADDR を実行する\n"
    "フリートの終了ステータスは各台のうち最も悪いもの（4、3、1、0 の順）です。\n"
    "--if-newer で飛ばした台は 0、試みなかった台は 1 と数えます。\n";

constexpr unsigned kOneDevice = ModeSerial | ModeNetwork | ModeCheck;
constexpr unsigned kRuns = kOneDevice | ModeFleet | ModeRestore;

using Values = std::vector<std::string>;

// A path of at most 259 characters into *path.
std::string takePath(const char* option, const Values& values, std::string* path)
{
    *path = values.front();
    if (path->empty() || path->size() >= 260)
        return std::string(option) + " takes a path of at most 259 characters";
    return {};
}

std::string takeFile(const char* option, const Values& values, std::string* file)
{
    *file = values.front();
    return file->empty() ? std::string(option) + " takes a file name" : std::string();
}

// Every option: its names, how its values are taken, where it applies, its
// help and, where it has one of its own, its warning. One row an option.
const std::vector<OptionSpec> kOptionTable = {
    {"--method", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         if (v.front() != "serial" && v.front() != "network")
             return "--method is serial or network";
         line->network = v.front() == "network";
         return {};
     },
     kRuns, "--method serial\tKT-58CU on a serial port (what --device and --com mean)\n"
            "--method network\tKT-58NET behind its XPort, over TCP (what --ip means)", "", "",
     "--method serial\tシリアルポートの KT-58CU（--device と --com の意味）\n"
     "--method network\tXPort の先の KT-58NET、TCP 経由（--ip の意味）", ""},
    {"--com", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& text : v) {
             const auto number = parseNumber(text, 1, 99999999);
             if (!number)
                 return "--com takes a port number from 1";
             line->coms.push_back(*number);
         }
         line->com = line->coms.front();
         line->comGiven = true;
         return {};
     },
     ModeSerial | ModeCheck | ModeFleet, platformHelp().comHelp,
     "--com N, --device PATH\tgiven more than once: one KT-58CU unit on each port", "",
     platformHelp().comHelpJapanese, "--com N, --device PATH\t複数回指定: ポートごとに KT-58CU を 1 台", ModeSerial},
    {"--device", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& path : v)
             if (std::string error = takePath("--device", {path}, &line->device); !error.empty())
                 return error;
         line->devices = v;
         line->device = v.front();
         return {};
     },
     ModeSerial | ModeCheck | ModeFleet, platformHelp().deviceHelp, "", "", platformHelp().deviceHelpJapanese, "",
     ModeSerial},
    {"--ip", OptionKind::Values,
     [](const Values& v, CommandLine* line) -> std::string {
         for (const std::string& ip : v)
             if (const std::string problem = addressProblem(ip); !problem.empty())
                 return problem;
         line->ips = v;
         line->ip = v.front();
         return {};
     },
     ModeNetwork | ModeFleet | ModeRestore | ModeCheck,
     "--ip ADDR\tthe device's IPv4 address or host name (network),\n"
     "\te.g. 192.168.0.50; a name is resolved once, before the run",
     "--ip ADDR\tgiven more than once: one unit each", "",
     "--ip ADDR\tデバイスの IPv4 アドレスまたはホスト名（ネットワーク）。\n"
     "\t例 192.168.0.50。名前は実行前に一度だけ解決します", "--ip ADDR\t複数回指定: それぞれ 1 台", ModeNetwork},
    {"--tcp-port", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         const auto number = parseNumber(v.front(), 1, 65535);
         if (!number)
             return "--tcp-port takes a port number from 1 to 65535";
         line->tcpPort = *number;
         return {};
     },
     ModeNetwork | ModeFleet | ModeCheck, "--tcp-port N\tthe XPort's data port (network); default " + std::to_string(kDefaultTcpPort),
     "", "",
     "--tcp-port N\tXPort のデータポート（ネットワーク）。既定は " + std::to_string(kDefaultTcpPort), ""},
    {"--image", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takePath("--image", v, &line->image); },
     kOneDevice | ModeFleet, "--image PATH\tthe image file; default kt58netcu.hex beside this program", "", "",
     "--image PATH\tファームウェアファイル。既定はこのプログラムと同じ場所の kt58netcu.hex", ""},
    {"--expect-sha256", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         std::string digest = v.front();
         for (char& c : digest)
             c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
         if (digest.size() != 64 || digest.find_first_not_of("0123456789abcdef") != std::string::npos)
             return "--expect-sha256 takes the 64 hex digits of a SHA-256";
         line->expectSha256 = digest;
         return {};
     },
     kOneDevice | ModeFleet,
     "--expect-sha256 HEX\trefuse, before anything is touched, an image whose\n"
     "\tSHA-256 is not HEX", "", "",
     "--expect-sha256 HEX\tSHA-256 が HEX でないファームウェアファイルを、何にも\n"
     "\t触れる前に拒否します", ""},
    {"-y,--yes", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->yes = true; return std::string(); },
     ModeSerial | ModeNetwork | ModeFleet, "-y, --yes\tanswer Yes to the question before the device is erased", "",
     "",
     "-y, --yes\tデバイスを消去する前の確認に「はい」と答えます", ""},
    {"-q,--quiet", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->quiet = true; return std::string(); }, kRuns | ModeDiscover,
     "-q, --quiet\tshow only errors and the final line", "", "",
     "-q, --quiet\tエラーと最後の行だけを表示します", ""},
    {"--check", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->check = true; return std::string(); }, kOneDevice,
     "--check\tcheck the image (version, records, bytes, addresses) and\n"
     "\tstop; with --device, --com or --method network --ip\n"
     "\talso identify the device and release it, erasing nothing", "", "",
     "--check\tファームウェアファイル（バージョン、レコード、バイト数、アドレス）を\n"
     "\t検査して終了します。--device、--com、--method network --ip が\n"
     "\tあればデバイスも識別して解放します。何も消去しません", ""},
    {"--trace", OptionKind::OptionalValue,
     [](const Values& v, CommandLine* line) {
         line->trace = true;
         line->traceFile = v.empty() ? std::string() : v.front();
         return std::string();
     },
     kRuns,
     "--trace[=FILE]\tlog every exchange with the device and the XPort, in hex\n"
     "\twith the milliseconds since the start, to standard error\n"
     "\tor FILE", "", "",
     "--trace[=FILE]\tデバイスと XPort とのやり取りをすべて、開始からのミリ秒と\n"
     "\t16進数で標準エラー出力または FILE に記録します", ""},
    {"--list-ports", OptionKind::Flag,
     [](const Values&, CommandLine* line) {
         if (line->action == CommandAction::Update)
             line->action = CommandAction::ListPorts;
         return std::string();
     },
     ModeList, "--list-ports\tlist the serial ports of this machine and stop", "", "",
     "--list-ports\tこのマシンのシリアルポートを一覧して終了します", ""},
    {"--restore-xport", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->restoreXport = true; return std::string(); }, ModeRestore,
     "--restore-xport\tonly put back the XPort setup kept by an interrupted run", "", "",
     "--restore-xport\t中断された実行が保存した XPort の設定を元に戻すだけです", ""},
    {"-h,--help", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->action = CommandAction::Help; return std::string(); },
     ModeInfo, "-h, --help\tthis text", "", "",
     "-h, --help\tこの説明", ""},
    {"-V,--version", OptionKind::Flag,
     [](const Values&, CommandLine* line) {
         if (line->action != CommandAction::Help)
             line->action = CommandAction::Version;
         return std::string();
     },
     ModeInfo, "-V, --version\tthe program's version", "", "",
     "-V, --version\tプログラムのバージョン", ""},
    {"--hosts", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--hosts", v, &line->hostsFile); },
     ModeFleet | ModeDiscover, "",
     "--hosts FILE\tthe units, one ADDR[:TCP-PORT] a line (host names too);\n"
     "\t'#' starts a comment; --tcp-port for those without one", "",
     "", "--hosts FILE\t各台を 1 行に 1 つ ADDR[:TCP-PORT] で（ホスト名も可）。\n"
     "\t'#' から後はコメント。ポートのない台には --tcp-port", ModeNetwork},
    {"--if-newer", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->ifNewer = true; return std::string(); }, ModeFleet, "",
     "--if-newer\tleave alone a unit whose device has the image's version\n"
     "\tor a newer one (after the identify and the quit)", "",
     "", "--if-newer\tデバイスがファームウェアファイルと同じか新しいバージョンなら\n"
     "\tその台は更新しません（識別と終了の後）"},
    {"--report", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--report", v, &line->reportFile); },
     ModeFleet | ModeDiscover, "",
     "--report FILE\tone JSON object a line per unit, written as each ends", "",
     "", "--report FILE\t各台の終了ごとに 1 行 1 つの JSON オブジェクトを書きます"},
    {"--keep-going", OptionKind::Flag, [](const Values&, CommandLine*) { return std::string(); }, ModeFleet, "",
     "--keep-going\tgo on after a unit that failed (the default)",
     "--keep-going and --stop-on-error apply to a fleet only",
     "", "--keep-going\t失敗した台の後も続けます（既定）"},
    {"--stop-on-error", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->stopOnError = true; return std::string(); }, ModeFleet, "",
     "--stop-on-error\tstop at the first unit not complete or skipped",
     "--keep-going and --stop-on-error apply to a fleet only",
     "", "--stop-on-error\t完了またはスキップで終わらなかった最初の台で止めます"},
    {"-v,--verbose", OptionKind::Flag,
     [](const Values&, CommandLine* line) { line->verbose = true; return std::string(); }, kRuns,
     "-v, --verbose\teach step on standard error with the seconds since the\n"
     "\tstart: the identify reply, the erase's time, the XPort's\n"
     "\texchanges and the settling waits", "", "",
     "-v, --verbose\t各手順を開始からの秒数付きで標準エラー出力に出します:\n"
     "\t識別の応答、消去の時間、XPort とのやり取り、設定反映待ち", ""},
    {"--parallel", OptionKind::Value,
     [](const Values& v, CommandLine* line) -> std::string {
         const auto number = parseNumber(v.front(), 1, kMostParallel);
         if (!number)
             return "--parallel takes a number of units from 1 to " + std::to_string(kMostParallel);
         line->parallel = *number;
         return {};
     },
     ModeFleet, "", "--parallel N\tupdate up to N units at once (1 to 32; default 1)", "",
     "", "--parallel N\t最大 N 台を同時に更新します（1 から 32。既定は 1）"},
    {"--retry", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--retry", v, &line->retryReport); }, ModeFleet, "",
     "--retry REPORT\trun again the units a --report file shows as not\n"
     "\tcomplete or skipped, reached as they were", "",
     "", "--retry REPORT\t--report のファイルで完了またはスキップでない台を、\n"
     "\t記録どおりの接続先でもう一度実行します"},
    {"--discover", OptionKind::OptionalValues,
     [](const Values& v, CommandLine* line) -> std::string {
         // Given alone, the option's values hold one empty text.
         for (const std::string& range : v)
             if (!range.empty())
                 line->discoverRanges.push_back(range);
         line->action = CommandAction::Discover;
         return {};
     },
     ModeDiscover,
     "--discover [RANGE...]\tfind the XPorts that answer the query: by broadcast\n"
     "\tand at each address of RANGE (192.168.1.0/24 or one\n"
     "\taddress) or --hosts FILE; shows each one's address, reply\n"
     "\ttime and byte 21 (-q: the addresses only; --report FILE:\n"
     "\tJSON lines); changes nothing", "", "",
     "--discover [RANGE...]\t問い合わせに応答する XPort を探します: ブロードキャストと、\n"
     "\tRANGE（192.168.1.0/24 または 1 つのアドレス）か --hosts FILE の\n"
     "\t各アドレスに。それぞれのアドレス、応答時間、バイト 21 を表示します\n"
     "\t（-q: アドレスだけ。--report FILE: JSON 行）。何も変更しません", ""},
    {"--interface", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takeFile("--interface", v, &line->interfaceName); },
     ModeDiscover, "--interface NAME\t--discover broadcasts on this interface only", "", "",
     "--interface NAME\t--discover はこのインターフェースにだけブロードキャストします", ""},
    {"--log-dir", OptionKind::Value,
     [](const Values& v, CommandLine* line) { return takePath("--log-dir", v, &line->logFolder); }, ModeFleet, "",
     "--log-dir DIR\ta log per unit in DIR, its lines timed (and its trace)", "",
     "", "--log-dir DIR\tDIR に台ごとのログ。各行に時刻（とトレース）を付けます"},
};

// "--yes" of "-y,--yes".
std::string longName(const OptionSpec& option)
{
    return option.names.substr(option.names.rfind(',') + 1);
}

// The lines of a help field, each synopsis padded to the descriptions' column.
std::string helpLines(const std::string& field)
{
    std::string text;
    for (size_t at = 0; at < field.size();) {
        const size_t end = std::min(field.find('\n', at), field.size());
        const std::string line = field.substr(at, end - at);
        const size_t tab = line.find('\t');
        std::string synopsis = line.substr(0, tab);
        synopsis.resize(std::max<size_t>(synopsis.size() + 1, 19), ' ');
        text += "  " + synopsis + line.substr(tab + 1) + "\n";
        at = end + 1;
    }
    return text;
}

CommandLine usage(CommandLine line, std::string error)
{
    line.action = CommandAction::Usage;
    line.error = std::move(error);
    return line;
}

// Where the typed values of one option go: CLI11 fills them.
struct Typed {
    std::string value;
    Values values;
};

void declare(CLI::App& app, const OptionSpec& option, Typed* typed)
{
    switch (option.kind) {
    case OptionKind::Flag:
        app.add_flag(option.names);
        break;
    case OptionKind::Value:
        app.add_option(option.names, typed->value);
        break;
    case OptionKind::OptionalValue:
        app.add_option(option.names, typed->value)->expected(0, 1);
        break;
    case OptionKind::Values:
        app.add_option(option.names, typed->values)->allow_extra_args(false);
        break;
    case OptionKind::OptionalValues:
        app.add_option(option.names, typed->values)->expected(0, -1);
        break;
    }
}

// Each given option's values taken into the record, those of `modes` only;
// empty, else the first usage error.
std::string takeGiven(const CLI::App& app, std::vector<Typed>& typed, unsigned modes, CommandLine* line)
{
    const auto& table = optionTable();
    for (size_t i = 0; i < table.size(); ++i) {
        if ((table[i].modes & modes) == 0 || app.count(longName(table[i])) == 0)
            continue;
        Values values = typed[i].values;
        if (table[i].kind == OptionKind::Value || (table[i].kind == OptionKind::OptionalValue && !typed[i].value.empty()))
            values.push_back(typed[i].value);
        if (std::string error = table[i].take(values, line); !error.empty())
            return error;
    }
    return {};
}

// The model the options name: a port means a KT-58CU, an address a
// KT-58NET; --method, when given, must say the same. Empty, else the usage error.
std::string chooseModel(const CLI::App& app, CommandLine* line)
{
    std::string port, address;  // the first option given that names each
    for (const OptionSpec& option : optionTable()) {
        std::string& named = option.model == ModeSerial ? port : address;
        if (option.model != 0 && named.empty() && app.count(longName(option)) > 0)
            named = longName(option);
    }
    if (!port.empty() && !address.empty())
        return port + " (a KT-58CU) and " + address + " (a KT-58NET) do not go together";
    if (app.count("--method") == 0) {
        line->network = !address.empty();
        return {};
    }
    if (line->network && !port.empty())
        return "--method network does not go with " + port + " (a KT-58CU)";
    if (!line->network && !address.empty())
        return "--method serial does not go with " + address + " (a KT-58NET)";
    return {};
}

// The run the options ask for: the action, and for a fleet or a restore the
// method; empty, else the usage error.
std::string chooseRun(const CLI::App& app, CommandLine* line)
{
    const auto given = [&app](const char* name) { return app.count(name) > 0; };
    if (std::string error = chooseModel(app, line); !error.empty())
        return error;
    if (line->stopOnError && given("--keep-going"))
        return "--keep-going and --stop-on-error do not go together";
    const bool serialPorts = !line->devices.empty() || !line->coms.empty();
    const bool serialUnits = line->devices.size() > 1 || line->coms.size() > 1 ||
                             (serialPorts && line->ips.empty() && !given("--hosts") &&
                              (given("--report") || line->ifNewer));
    if (line->action == CommandAction::Discover)
        return {};
    if (given("--retry") && (serialPorts || !line->ips.empty() || given("--hosts")))
        return "--retry takes its units from the report: not with --ip, --hosts, --device or --com";
    if (serialUnits || line->ips.size() > 1 || given("--hosts") || given("--report") || line->ifNewer ||
        given("--retry")) {
        if (serialUnits && !line->devices.empty() && !line->coms.empty())
            return "a fleet of KT-58CU units takes --device or --com, not both";
        if (!serialUnits && line->ips.empty() && !given("--hosts") && !given("--retry"))
            return "a fleet needs --ip ADDR or --hosts FILE";
        if (line->restoreXport)
            return "--restore-xport takes one --ip ADDR, not a fleet";
        if (line->check)
            return "--check takes one device, not a fleet";
        if (!serialUnits && given("--method") && !line->network)
            return "the units of a fleet are KT-58NET: --method network";
        line->serialFleet = serialUnits;
        line->action = CommandAction::Fleet;
    } else if (line->restoreXport) {
        if (line->check)
            return "--check and --restore-xport do not go together";
        if (!given("--ip"))
            return "--restore-xport needs --ip ADDR";
        line->action = CommandAction::Restore;
    } else {
        if (line->network && !given("--ip"))
            return "--method network needs --ip ADDR";
        // No port is assumed: a guess could erase whatever device sits there.
        if (!line->network && !line->check && !line->comGiven && line->device.empty() && serialRunNeedsAPort())
            return "a KT-58CU run needs its serial port: --device PATH or --com N "
                   "(kt5cufirm --list-ports lists them); a KT-58NET one --ip ADDR";
        line->action = line->check ? CommandAction::Check : CommandAction::Update;
    }
    line->network = line->network || (line->action == CommandAction::Fleet && !line->serialFleet) ||
                    line->action == CommandAction::Restore;
    return {};
}

unsigned runModes(const CommandLine& line)
{
    switch (line.action) {
    case CommandAction::Discover:
        return ModeDiscover;
    case CommandAction::Fleet:
        return ModeFleet;
    case CommandAction::Restore:
        return ModeRestore;
    default:
        return (line.network ? ModeNetwork : ModeSerial) | (line.check ? ModeCheck : 0u);
    }
}

// Where an option applies, a fleet's kind of unit taken into account: one
// for a single method only does not apply to a fleet of the other's units.
unsigned fleetModes(const OptionSpec& option, const CommandLine& line)
{
    const bool serialOnly = (option.modes & (ModeSerial | ModeNetwork)) == ModeSerial;
    const bool networkOnly = (option.modes & (ModeSerial | ModeNetwork)) == ModeNetwork;
    if (line.action == CommandAction::Fleet && (line.serialFleet ? networkOnly : serialOnly))
        return option.modes & ~ModeFleet;
    return option.modes;
}

// A warning for each option given where the run does not use it.
void warnWhereNotApplying(const CLI::App& app, CommandLine* line)
{
    const std::pair<OptionMode, const char*> kWhere[] = {
        {ModeSerial, "--method serial"},   {ModeNetwork, "--method network"},
        {ModeFleet, line->serialFleet ? "a fleet of KT-58CU units" : "a fleet of KT-58NET units"},
        {ModeRestore, "--restore-xport"}, {ModeDiscover, "--discover"},
        {ModeCheck, "--check: nothing is erased"},
    };
    const unsigned modes = runModes(*line);
    for (const OptionSpec& option : optionTable()) {
        const unsigned missing = modes & ~fleetModes(option, *line);
        if (missing == 0 || app.count(longName(option)) == 0)
            continue;
        if (!option.elsewhere.empty()) {
            line->warnings.push_back(option.elsewhere);
            continue;
        }
        for (const auto& [mode, where] : kWhere)
            if ((missing & mode) != 0) {
                line->warnings.push_back(longName(option) + " does not apply to " + where);
                break;
            }
    }
}

// Levenshtein distance of two names.
size_t editDistance(const std::string& a, const std::string& b)
{
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

bool isTableName(const std::string& name)
{
    for (const OptionSpec& option : optionTable())
        if (("," + option.names + ",").find("," + name + ",") != std::string::npos)
            return true;
    return false;
}

// The first argument that names no option of the table, with the nearest
// one; `otherwise` when none is found (a stray value).
std::string unknownOption(int argc, const char* const* argv, const std::string& otherwise)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--")
            break;
        if (argument.size() < 2 || argument[0] != '-')
            continue;
        const std::string name = argument.substr(0, argument.find('='));
        if (isTableName(name) || (name[1] != '-' && isTableName(name.substr(0, 2))))
            continue;
        const std::string nearest = nearestOption(name);
        return "unknown option " + name + (nearest.empty() ? std::string() : "; did you mean " + nearest + "?");
    }
    return otherwise;
}

} // namespace

const std::vector<OptionSpec>& optionTable()
{
    return kOptionTable;
}

const char* usageText()
{
    static const std::string text = usageLines();
    return text.c_str();
}

std::string helpText(bool japanese)
{
    // A row without Japanese lines shows its English ones.
    const auto lines = [japanese](const std::string& english, const std::string& inJapanese) {
        return helpLines(japanese && !inJapanese.empty() ? inJapanese : english);
    };
    std::string text = japanese ? kHelpHeadJapanese : kHelpHead;
    for (const OptionSpec& option : optionTable())
        text += lines(option.help, option.helpJapanese);
    text += japanese ? kFleetHeadJapanese : kFleetHead;
    for (const OptionSpec& option : optionTable())
        text += lines(option.fleetHelp, option.fleetHelpJapanese);
    if (japanese)
        return text + kHelpMiddleJapanese + platformHelp().interruptHelpJapanese + kHelpTailJapanese;
    return text + kHelpMiddle + platformHelp().interruptHelp + kHelpTail;
}

std::string nearestOption(const std::string& typed)
{
    std::string nearest;
    size_t best = std::max<size_t>(2, typed.size() / 3) + 1;
    for (const OptionSpec& option : optionTable())
        for (size_t at = 0; at <= option.names.size();) {
            const size_t end = std::min(option.names.find(',', at), option.names.size());
            const std::string name = option.names.substr(at, end - at);
            if (const size_t distance = editDistance(typed, name); distance < best && name.size() > 2) {
                best = distance;
                nearest = name;
            }
            at = end + 1;
        }
    return nearest;
}

CommandLine parseCommandLine(int argc, const char* const* argv)
{
    CommandLine line;
    line.arguments.assign(argv + std::min(argc, 1), argv + std::max(argc, 1));
    CLI::App app("", "kt5cufirm");
    // The texts are the program's own (usageText, helpText), in step with the man page.
    app.set_help_flag();
    std::vector<Typed> typed(optionTable().size());
    for (size_t i = 0; i < typed.size(); ++i)
        declare(app, optionTable()[i], &typed[i]);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ExtrasError& error) {
        return usage(line, unknownOption(argc, argv, error.what()));
    } catch (const std::exception& error) {
        return usage(line, error.what());
    }
    takeGiven(app, typed, ModeInfo | ModeList, &line);
    if (line.action != CommandAction::Update)
        return line;
    std::string error = takeGiven(app, typed, ~(ModeInfo | ModeList), &line);
    if (error.empty())
        error = chooseRun(app, &line);
    if (!error.empty())
        return usage(line, error);
    warnWhereNotApplying(app, &line);
    return line;
}
