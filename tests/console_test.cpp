// kt5cufirm as a process: a few usage errors and the other exit statuses,
// texts in both languages, the question on a terminal and whole updates against the
// emulators.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "device_emulator.h"
#include "kt_version.h"
#include "process_run.h"
#include "sha256.h"
#include "test_support.h"
#include "xport_emulator.h"

namespace {

using namespace std::chrono_literals;
using ::testing::Contains;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
using Strings = std::vector<std::string>;

// Where the console keeps the XPort's setup between runs, for every run of this suite.
const ScratchDir& stateHome()
{
    static const ScratchDir dir;
    return dir;
}

std::string keptSetupFile() { return (stateHome().path() / "kt5cufirm" / "xport-127.0.0.1.setup").string(); }

// kt5cufirm's environment: the locale variables replaced by `locale`, the
// protocol waits shortened to `waits`, the state folder in a scratch directory.
Strings consoleEnvironment(const Strings& locale, const std::string& waits)
{
    Strings environment = {"LANG", "LANGUAGE", "LC_ALL", "LC_CTYPE", "LC_MESSAGES", "LC_NUMERIC", "LC_TIME"};
    environment.insert(environment.end(), locale.begin(), locale.end());
    environment.push_back("KT5CUFIRM_TEST_WAITS=" + waits);
    environment.push_back("XDG_STATE_HOME=" + stateHome().path().string());
    return environment;
}

struct Outcome {
    int status;  // the exit status; -1 when the program did not end by itself
    std::string out, err;  // err without the test waits' warning
    bool warned;           // the warning came first on standard error
    std::string lastErrLine() const
    {
        std::string text = err;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text.substr(text.rfind('\n') + 1);
    }
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// kt5cufirm running with standard input empty, in a session without a
// terminal; `streams` closes or leaves unread one of its streams.
class ConsoleProcess : public Process {
public:
    ConsoleProcess(Strings args, Strings locale = {}, const std::string& waits = "300,20", ProcessStreams streams = {})
        : Process(withProgram(std::move(args)), consoleEnvironment(locale.empty() ? Strings{"LC_ALL=C"} : locale, waits),
                  {}, false, streams)
    {
    }
    Outcome wait()
    {
        const ProcessResult result = finish();
        std::string err = result.err;
        const bool warned = err.substr(0, err.find('\n')).find("KT5CUFIRM_TEST_WAITS") != std::string::npos;
        if (warned)
            err.erase(0, err.find('\n') + 1);
        return {result.status, result.out, err, warned};
    }

private:
    static Strings withProgram(Strings args)
    {
        args.insert(args.begin(), KT5CUFIRM_PATH);
        return args;
    }
};

Outcome runConsole(Strings args, Strings locale = {})
{
    return ConsoleProcess(std::move(args), std::move(locale)).wait();
}

// The width of the terminals the tests make: narrower than any bar at its widest.
constexpr int kTerminalColumns = 40;

// Runs kt5cufirm on a terminal of its own (its controlling terminal), standard
// error in `errFile`, and at its question types `answer`, or sends `signal`
// when it is not 0; what the terminal showed. With `outFile`, standard output
// goes there and standard input is empty: the question must still come on
// the terminal.
std::string runOnTerminal(Strings args, const std::string& answer, int* status, int signal = 0,
                          const std::string& errFile = "", const std::string& outFile = "")
{
    // Everything the child needs is made before the fork.
    args.insert(args.begin(), KT5CUFIRM_PATH);
    Strings environment = environmentWith(consoleEnvironment({"LC_ALL=C"}, "300,20"));
    const auto pointers = [](Strings& strings) {
        std::vector<char*> result;
        for (std::string& text : strings)
            result.push_back(text.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> argv = pointers(args), envp = pointers(environment);
    int terminal = -1;
    winsize size{};
    size.ws_row = 24;
    size.ws_col = kTerminalColumns;
    const pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
    if (pid < 0) {
        *status = -1;
        return "forkpty failed";
    }
    if (pid == 0) {
        if (!errFile.empty())
            dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 2);
        if (!outFile.empty()) {
            dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600), 1);
            dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
        }
        alarm(60);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    std::string screen;
    char buffer[1024];
    bool asked = false;
    for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) {  // until the program ends
        screen.append(buffer, static_cast<size_t>(n));
        if (!asked && screen.find("[y/N] ") != std::string::npos)
            asked = signal != 0 ? kill(pid, signal) == 0 : write(terminal, answer.data(), answer.size()) > 0;
    }
    close(terminal);
    waitpid(pid, status, 0);
    return screen;
}

// UTF-8 `text` in `codeset`, as iconv converts it.
std::string inCodeset(const std::string& text, const char* codeset)
{
    iconv_t converter = iconv_open(codeset, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return "(no converter)";
    std::string out(text.size() * 4, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* to = &out[0];
    size_t toLeft = out.size();
    const bool whole = iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<size_t>(-1) && inLeft == 0;
    iconv_close(converter);
    out.resize(out.size() - toLeft);
    return whole ? out : "(not convertible)";
}

// The lines of `text` that start with `prefix`.
Strings linesStartingWith(const std::string& text, const std::string& prefix)
{
    Strings lines;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        if (text.compare(at, prefix.size(), prefix) == 0)
            lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Polls `done` until it holds or ten seconds have passed.
bool eventually(const std::function<bool()>& done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(10ms);
    return done();
}

TEST(ConsoleOptions, ExitStatusesAndTexts)
{
    struct Case {
        Strings args, locale;
        int status;
        ::testing::Matcher<const std::string&> out, err;
    };
    const std::string noDevice = "/nonexistent/tty";
    const std::string sample = KT_SAMPLE_IMAGE;
    const ScratchDir scratch;
    const std::string badHosts = scratch.write("hosts", "127.0.0.1\n# next\n127.0.0.2:0\n").string();
    const std::string fifo = (scratch.path() / "fifo.hex").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string noSuchFile = ": " + noDevice + ": " + std::strerror(ENOENT);
    const std::string japaneseOut = noDevice + " を開いています ...\nアップデートは完了しませんでした。\n";
    const std::string japaneseErr =
        "kt5cufirm: エラー: 接続できませんでした" + noSuchFile +
        "\nkt5cufirm: ヒント: そのポートはありません。kt5cufirm --list-ports でこのマシンのシリアルポートを一覧できます\n"
        "kt5cufirm: デバイスは変更されていません。原因: " + noSuchFile.substr(2) + "。\n";
    const Case cases[] = {
        {{"--devcie", "x"}, {}, 2, "", "kt5cufirm: unknown option --devcie; did you mean --device?\nsee kt5cufirm --help\n"},
        {{"--com=0"}, {}, 2, "", StartsWith("kt5cufirm: --com takes a port number from 1\n")},
        {{"--method", "network"}, {}, 2, "", StartsWith("kt5cufirm: --method network needs --ip ADDR\n")},
        {{"--ip=10.0.0.0x1"}, {}, 2, "", StartsWith("kt5cufirm: --ip 10.0.0.0x1 is not an IPv4 address: ")},
        {{"--device=" + noDevice, "--ip", "127.0.0.1", "-y"}, {}, 2, "",
         StartsWith("kt5cufirm: --device (a KT-58CU) and --ip (a KT-58NET) do not go together\n")},
        {{"--method", "serial", "--ip", "127.0.0.1"}, {}, 2, "",
         StartsWith("kt5cufirm: --method serial does not go with --ip (a KT-58NET)\n")},
        // No serial port is assumed.
        {{"--image", sample, "--yes"}, {}, 2, "",
         StartsWith("kt5cufirm: a KT-58CU run needs its serial port: --device PATH or --com N (kt5cufirm --list-ports")},
        // A FIFO as the image is refused at once, not waited on.
        {{"--check", "--image", fifo}, {}, 1, "",
         HasSubstr(": " + fifo + ": is a FIFO, not a regular file\nkt5cufirm: the device was not changed.\n")},
        {{"--method", "network", "--ip", "no-such-host.invalid"}, {}, 2, "",
         StartsWith("kt5cufirm: --ip no-such-host.invalid: the host name cannot be resolved to an IPv4 address: ")},
        {{"--restore-xport", "--ip", "127.0.0.1"}, {}, 1, "",
         "kt5cufirm: no XPort setup is kept for 127.0.0.1 (in " + (stateHome().path() / "kt5cufirm").string() +
             "): nothing to put back\n"},
        // No image lies beside the program in the build: nothing is touched without one.
        {{"--device", noDevice, "-y"}, {}, 1, "",
         HasSubstr("/kt58netcu.hex: " + std::string(std::strerror(ENOENT)) +
                   "\nkt5cufirm: no image was given and none lies beside the program: name the image file with "
                   "--image PATH\nkt5cufirm: the device was not changed.\n")},
        {{"--hosts", "/nonexistent/hosts"}, {}, 2, "", StartsWith("kt5cufirm: /nonexistent/hosts: cannot be read\n")},
        {{"--hosts", badHosts}, {}, 2, "",
         StartsWith("kt5cufirm: " + badHosts + ":3: the TCP port after ':' is a number from 1 to 65535: 127.0.0.2:0\n")},
        {{"--if-newer", "--yes"}, {}, 2, "", StartsWith("kt5cufirm: a fleet needs --ip ADDR or --hosts FILE\n")},
        {{"--help"}, {}, 0, HasSubstr("  4  the XPort's setup could not be put back"), ""},
        {{"-h"}, {}, 0, HasSubstr("  --trace[=FILE]"), ""},
        {{"--version"}, {}, 0, "kt5cufirm " KT_VERSION_TEXT "\n", ""},
        {{"-V"}, {}, 0, "kt5cufirm " KT_VERSION_TEXT "\n", ""},
        {{"--device", noDevice, "--image", sample, "-y"}, {}, 1, EndsWith("\nOpening /nonexistent/tty ...\nThe update was not completed.\n"),
         "kt5cufirm: error: the connection could not be made" + noSuchFile +
             "\nkt5cufirm: hint: there is no such port; kt5cufirm --list-ports lists this machine's serial ports\n"
             "kt5cufirm: the device was not changed; cause: " + noSuchFile.substr(2) + ".\n"},
        {{"--device", noDevice, "--image", sample, "-y"}, {"LANG=ja_JP.UTF-8"}, 1, EndsWith(japaneseOut), japaneseErr},
        // EUC-JP and Shift_JIS terminals get their own bytes, installed locale or not.
        {{"--device", noDevice, "--image", sample, "-y"}, {"LANG=ja_JP.eucJP"}, 1, EndsWith(inCodeset(japaneseOut, "EUC-JP")),
         inCodeset(japaneseErr, "EUC-JP")},
        {{"--device", noDevice, "--image", sample, "-y"}, {"LANG=ja_JP.SJIS"}, 1, EndsWith(inCodeset(japaneseOut, "SHIFT_JIS")),
         inCodeset(japaneseErr, "SHIFT_JIS")},
        // Japanese asked for on a terminal that cannot show it: English.
        {{"--device", noDevice, "--image", sample, "-y"}, {"LC_MESSAGES=ja_JP.UTF-8"}, 1,
         EndsWith("The update was not completed.\n"), HasSubstr("kt5cufirm: error: the connection could not be made")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Outcome outcome = runConsole(c.args, c.locale);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_THAT(outcome.out, c.out);
        EXPECT_THAT(outcome.err, c.err);
        EXPECT_EQ(outcome.warned, c.status == 1) << "the shortened waits are announced whenever a run may start";
    }
}

class ConsoleRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.startPty()); }
    Strings serial(Strings more = {}) const
    {
        more.insert(more.begin(), {"--device", device.ptyPath(), "--image", imageFile});
        return more;
    }
    ScratchDir scratch;
    const std::string image = sampleImage("0201", 30, 16);
    const std::string imageFile = scratch.write("image.hex", image).string();
    DeviceEmulator device;
};

TEST_F(ConsoleRun, SerialUpdateWithYesThenQuiet)
{
    const Outcome yes = runConsole(serial({"--yes"}));
    EXPECT_EQ(yes.status, 0) << yes.err;
    const std::string port = device.ptyPath();
    const std::string digest = sha256Hex(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    // The summary's timing varies: its numbers are held to their form.
    const std::regex timing("in [0-9]+\\.[0-9] s, [0-9]+ bytes/s \\([0-9]+ % of");
    EXPECT_EQ(std::regex_replace(yes.out, timing, "in T s, R bytes/s (S % of"),
              "kt5cufirm " KT_VERSION_TEXT ": KT-58CU on " + port + "; image " + imageFile +
                  ": Ver 1.02, 31 records, 480 data bytes, SHA-256 " + digest + "\n"
                  "Opening " + port + " ...\nThe device has Ver 1.00.\nReading the image " + imageFile +
                  " ...\nThe image has Ver 1.02.\nUpdate the KT-58CU on " + port + " from Ver 1.00 to Ver 1.02? y\n"
                  "Erasing the device's firmware ...\nWriting the firmware ...\nThe firmware was written and verified.\n"
                  "Written: 31 records, 480 data bytes in T s, R bytes/s (S % of the 115200 baud line's limit); "
                  "the device now has Ver 1.02.\n"
                  "Leaving the device's update mode ...\nClosing the connection ...\nUpdate complete.\n");
    // Off a terminal, the progress is one plain line at every tenth of the
    // image's data bytes, the last at 100 %.
    const Strings progress = linesStartingWith(yes.err, "written ");
    ASSERT_EQ(progress.size(), 10u) << yes.err;
    for (size_t i = 0; i + 1 < progress.size(); ++i)
        EXPECT_THAT(progress[i], StartsWith("written " + std::to_string(i + 1))) << "tenth " << i + 1;
    EXPECT_EQ(progress.back(), "written 100% (480/480 bytes)");
    EXPECT_EQ(linesStartingWith(yes.err, "").size(), progress.size()) << "nothing else on standard error";
    EXPECT_EQ(device.memory().bytes, imageMemory(image));

    // Quiet: the final line alone, -v or not.
    const Outcome quiet = runConsole(serial({"-q", "-v", "-y"}));
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out, "Update complete.\n");
    EXPECT_EQ(quiet.err, "");

}

// A run that would ask, with no terminal to ask on and no --yes, is refused
// before anything is sent: no byte to the device, no datagram to the XPort.
TEST_F(ConsoleRun, WithoutATerminalOrYesNothingIsTouched)
{
    DeviceEmulator net;
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const std::string port = std::to_string(net.port());
    const std::string report = (scratch.path() / "report.jsonl").string();
    for (const Strings& args : {serial(), Strings{"--ip", "127.0.0.1", "--tcp-port", port, "--image", imageFile},
                                Strings{"--ip", "127.0.0.1", "--tcp-port", port, "--image", imageFile, "--report", report}}) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Outcome outcome = runConsole(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "kt5cufirm: the run asks before the device is erased, but there is no terminal to ask "
                               "on: give --yes to answer Yes (nothing was touched)\n");
    }
    EXPECT_EQ(device.counters().bytesReceived, 0);
    EXPECT_EQ(net.counters().connections, 0);
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 0u);
}

TEST_F(ConsoleRun, AnImageWithABadChecksumTouchesNothing)
{
    // Line 7 is the sixth record: its checksum one off.
    std::string bad = image;
    size_t at = 0;
    for (int line = 1; line < 7; ++line)
        at = bad.find("\r\n", at) + 2;
    const size_t end = bad.find("\r\n", at);
    bad[end - 1] = bad[end - 1] == '0' ? '1' : '0';
    const std::string badFile = scratch.write("bad.hex", bad).string();
    DeviceEmulator net;
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const Strings runs[] = {
        {"--device", device.ptyPath(), "--image", badFile, "--yes"},
        {"--method", "network", "--ip", "127.0.0.1", "--tcp-port", std::to_string(net.port()), "--image", badFile,
         "--yes"},
        {"--check", "--image", badFile},
    };
    for (const Strings& args : runs) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const Outcome outcome = runConsole(args);
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "");
        EXPECT_THAT(outcome.err, StartsWith("kt5cufirm: the image " + badFile + " cannot be used: line 7, "));
        EXPECT_THAT(outcome.err, HasSubstr("checksum"));
        EXPECT_EQ(outcome.lastErrLine(), "kt5cufirm: the device was not changed.");
    }
    EXPECT_EQ(device.counters().bytesReceived, 0);
    EXPECT_EQ(net.counters().connections, 0);
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 0u);
}

TEST_F(ConsoleRun, CheckReadsTheImageAndTheDeviceAndErasesNothing)
{
    DeviceEmulator net;
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const std::string summary = imageFile + ": Ver 1.02, 31 records (30 data records, 480 bytes), addresses 0x0000-0x01DF; SHA-256 " +
                                sha256Hex(reinterpret_cast<const uint8_t*>(image.data()), image.size()) + "\n";
    const std::string checked = "Checked: the device has Ver 1.00, the image Ver 1.02; nothing was erased.\n";
    struct Case {
        Strings args;
        std::string out;
        const DeviceEmulator* reached;
    };
    const Case cases[] = {
        {{"--check", "--image", imageFile}, summary, nullptr},
        {{"--check", "--image", imageFile, "--device", device.ptyPath(), "--yes"}, summary, &device},
        {{"--check", "--image", imageFile, "--method", "network", "--ip", "127.0.0.1", "--tcp-port",
          std::to_string(net.port())},
         summary, &net},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const Outcome outcome = runConsole(c.args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_THAT(outcome.out, StartsWith(c.out));
        EXPECT_THAT(outcome.out, c.reached != nullptr ? EndsWith(checked) : EndsWith(c.out));
        EXPECT_THAT(outcome.out, Not(HasSubstr(" to Ver 1.02? ")));
    }
    for (const DeviceEmulator* reached : {&device, &net}) {
        EXPECT_EQ(reached->counters().identifies, 1);
        EXPECT_EQ(reached->counters().quits, 1);
        EXPECT_EQ(reached->counters().erases, 0);
    }
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 6u) << "the XPort switched and put back";
    EXPECT_EQ(xport.record()[21], 2);
}

// A network update named by --ip alone (a KT-58NET), with a trace.
TEST_F(ConsoleRun, ANetworkUpdateWhoseTraceHoldsEveryRequestAndReplyInOrder)
{
    DeviceEmulator net;
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const std::string traceFile = (scratch.path() / "trace.txt").string();
    // A host name, resolved once before anything is sent.
    const Strings args = {"--ip", "localhost", "--tcp-port", std::to_string(net.port()),
                          "--image", imageFile, "--yes", "--trace=" + traceFile, "-v"};
    const Outcome outcome = runConsole(args);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr("\nSwitching the XPort at 127.0.0.1 to the update setup ...\n"
                                       "The XPort's setup is changed for the update; it is put back at the end.\n"
                                       "Connecting to localhost (127.0.0.1):" + std::to_string(net.port()) + " ...\n"));
    EXPECT_THAT(outcome.out, EndsWith("Closing the connection ...\nPutting the XPort's setup back ...\nUpdate complete.\n"));
    EXPECT_EQ(net.memory().bytes, imageMemory(image));
    std::string trace = readFile(traceFile);
    // The header: the program, the command line and the date and time.
    const std::string command = "# command line: kt5cufirm " + [&args] {
        std::string joined;
        for (const std::string& arg : args)
            joined += (joined.empty() ? "" : " ") + arg;
        return joined;
    }() + "\n";
    EXPECT_THAT(trace, StartsWith("# kt5cufirm " KT_VERSION_TEXT " trace\n" + command + "# started: 20"));
    trace.erase(0, trace.find("\n", trace.find("# started: ")) + 1);
    // The bytes of one line, from its hex column.
    const auto bytesOf = [](const std::string& line) {
        std::vector<uint8_t> bytes;
        const size_t from = line.find(": ") + 2, to = line.rfind("  |");
        for (size_t at = from; at + 2 <= to; at += 3)
            bytes.push_back(static_cast<uint8_t>(std::stoi(line.substr(at, 2), nullptr, 16)));
        return bytes;
    };
    Strings linkLines, udpLines;
    for (const std::string& line : linesStartingWith(trace, "")) {
        if (line.find(" ms link ") != std::string::npos)
            linkLines.push_back(line);
        else if (line.find(" ms udp ") != std::string::npos)
            udpLines.push_back(line);
        else
            ADD_FAILURE() << "not a trace record: " << line;
    }
    // The XPort: each request and its reply, as the emulator served them.
    ASSERT_TRUE(xport.sync(2s));
    const auto exchanges = xport.exchanges();
    EXPECT_EQ(exchanges.size(), 6u);
    ASSERT_EQ(udpLines.size(), 2 * exchanges.size());
    for (size_t i = 0; i < exchanges.size(); ++i) {
        EXPECT_THAT(udpLines[2 * i], HasSubstr(" udp out 127.0.0.1:30718 "));
        EXPECT_EQ(bytesOf(udpLines[2 * i]), exchanges[i].request) << udpLines[2 * i];
        EXPECT_THAT(udpLines[2 * i + 1], HasSubstr(" udp in 127.0.0.1:30718 "));
        ASSERT_EQ(exchanges[i].replies.size(), 1u);
        EXPECT_EQ(bytesOf(udpLines[2 * i + 1]), exchanges[i].replies[0]) << udpLines[2 * i + 1];
    }
    // -v: the identify reply, the erase's time, each XPort exchange with its
    // peer and its reply's length, the settling waits; the seconds in order.
    const Strings steps = linesStartingWith(outcome.err, "   ");
    Strings xportSteps;
    double last = 0;
    for (const std::string& step : steps) {
        const double seconds = std::stod(step);
        EXPECT_GE(seconds, last) << step;
        last = seconds;
        EXPECT_THAT(step, ::testing::MatchesRegex(" +[0-9]+\\.[0-9]{3} s .*")) << step;
        if (step.find(" XPort ") != std::string::npos && step.find(" settling") == std::string::npos)
            xportSteps.push_back(step.substr(step.find(" XPort ")));
    }
    EXPECT_THAT(steps, Contains(HasSubstr(" identify: the device replied 4D 01 00 01 (4 bytes) in ")));
    EXPECT_THAT(steps, Contains(::testing::MatchesRegex(".* erase: the device erased its firmware and replied in [0-9]+ ms")));
    EXPECT_EQ(std::count_if(steps.begin(), steps.end(), [](const std::string& step) {
                  return step.find(" XPort settling: waiting ") != std::string::npos;
              }), 2) << outcome.err;
    ASSERT_EQ(xportSteps.size(), exchanges.size()) << outcome.err;
    for (size_t i = 0; i < exchanges.size(); ++i) {
        const uint8_t code = exchanges[i].request.at(3);
        const std::string kind = code == 0xF6 ? "query" : code == 0xF8 ? "get" : code == 0xFA ? "put" : "?";
        EXPECT_THAT(xportSteps[i], ::testing::MatchesRegex(" XPort " + kind +
                                                           " 127\\.0\\.0\\.1:30718: a reply of " +
                                                           std::to_string(exchanges[i].replies[0].size()) +
                                                           " bytes in [0-9]+ ms"));
    }
    // The device: every request followed by its reply; the records in order.
    const DeviceCounters counters = net.counters();
    ASSERT_EQ(linkLines.size(), 2u * static_cast<size_t>(counters.requests)) << trace;
    Strings records;
    long long sent = 0, received = 0;
    for (size_t i = 0; i < linkLines.size(); i += 2) {
        EXPECT_THAT(linkLines[i], HasSubstr(" link out ")) << i;
        EXPECT_THAT(linkLines[i + 1], HasSubstr(" link in ")) << i;
        const auto request = bytesOf(linkLines[i]);
        sent += static_cast<long long>(request.size());
        received += static_cast<long long>(bytesOf(linkLines[i + 1]).size());
        if (!request.empty() && request[0] == ':')
            records.emplace_back(request.begin(), request.end());
    }
    EXPECT_EQ(sent, counters.bytesReceived);
    EXPECT_EQ(received, counters.bytesSent);
    const Strings served = net.records();
    ASSERT_EQ(records.size(), served.size());
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_THAT(records[i], StartsWith(served[i])) << i;
}

// An adapter that holds each reply for its latency timer: the first records'
// round trips give it away, once. A line without it says nothing (above).
TEST_F(ConsoleRun, RepliesHeldBackByTheAdapterAreNamedOnce)
{
    DeviceEmulatorOptions options;
    options.replyLatencyMs = 50;
    DeviceEmulator slow(options);
    ASSERT_TRUE(slow.startPty());
    const Outcome outcome = runConsole({"--device", slow.ptyPath(), "--image", imageFile, "--yes"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const Strings warned = linesStartingWith(outcome.err, "kt5cufirm: warning: ");
    ASSERT_EQ(warned.size(), 1u) << outcome.err;
    EXPECT_THAT(warned[0], ::testing::MatchesRegex("kt5cufirm: warning: the device's replies take [0-9]+ ms \\(the median "
                                                   "of the first 16 records\\) where the line needs about [0-9] ms: the "
                                                   "serial adapter's latency is likely the cause"));
}


// On its terminal the user answers No, Yes, or interrupts the question (No);
// with standard output in a file and standard input empty the question and
// its answer are on the terminal still.
TEST_F(ConsoleRun, OnATerminalTheUserAnswers)
{
    const std::string errFile = (scratch.path() / "err").string(), outFile = (scratch.path() / "out").string();
    const struct {
        std::string answer;
        int signal;
        bool redirected;
        int status;
    } rows[] = {{"n\n", 0, false, 1}, {"y\n", 0, false, 0}, {"", SIGINT, false, 1}, {"y\n", 0, true, 0}};
    int runs = 0, erases = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answer + std::to_string(row.signal) + (row.redirected ? " redirected" : ""));
        int status = -1;
        const std::string screen =
            runOnTerminal(serial(), row.answer, &status, row.signal, row.signal != 0 ? errFile : "",
                          row.redirected ? outFile : "");
        EXPECT_THAT(screen, HasSubstr("? [y/N] "));
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, row.status) << screen;
        erases += row.status == 0 ? 1 : 0;
        EXPECT_EQ(device.counters().erases, erases) << screen;
        EXPECT_EQ(device.counters().quits, ++runs);
        if (row.signal != 0) {
            const std::string err = readFile(errFile);
            EXPECT_THAT(err, HasSubstr("\nkt5cufirm: stopping after the current record\n"));
            EXPECT_THAT(err, EndsWith("\nkt5cufirm: the device was not changed.\n"));
        } else if (row.redirected) {
            EXPECT_THAT(readFile(outFile), HasSubstr("\nErasing the device's firmware ...\n"));
        } else if (row.status == 0) {  // the bar in place, last at all the data bytes, and left on screen
            EXPECT_THAT(screen, HasSubstr("\r["));
            EXPECT_THAT(screen, HasSubstr("] 100%  480/480 bytes\033[K\r\nThe firmware was written and verified."));
            // Each drawing fits the terminal's width, so that none wraps.
            for (size_t at = screen.find("\r["); at != std::string::npos; at = screen.find("\r[", at + 1)) {
                const std::string drawn = screen.substr(at + 1, screen.find('\033', at) - at - 1);
                EXPECT_LT(drawn.size(), static_cast<size_t>(kTerminalColumns)) << drawn;
                EXPECT_EQ(drawn.front(), '[');
            }
        }
    }
}

// Network runs that are stopped, lose their output or cannot put the XPort
// back: the exit status, the last line, what the device got and byte 21.
class ConsoleStops : public ::testing::Test {
protected:
    Strings network(const DeviceEmulator& device, Strings more = {"--yes"}) const
    {
        more.insert(more.begin(), {"--method", "network", "--ip", "127.0.0.1", "--tcp-port",
                                   std::to_string(device.port()), "--image", imageFile});
        return more;
    }
    static bool kept() { return std::filesystem::exists(keptSetupFile()); }
    ScratchDir scratch;
    const std::string image = sampleImage("0201", 30, 16);
    const std::string imageFile = scratch.write("image.hex", image).string();
    const std::string erasedLine =
        "kt5cufirm: the device was erased but not completely written and verified: run the update again.";
};

// The settings a terminal device shows, for comparing before and after.
std::vector<uint8_t> settingsOf(int port)
{
    termios s{};
    if (tcgetattr(port, &s) != 0)
        return {};
    const speed_t speeds[] = {cfgetispeed(&s), cfgetospeed(&s)};
    std::vector<uint8_t> bytes(reinterpret_cast<const uint8_t*>(&s.c_iflag), reinterpret_cast<const uint8_t*>(&s.c_line));
    bytes.insert(bytes.end(), s.c_cc, s.c_cc + NCCS);
    bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(speeds), reinterpret_cast<const uint8_t*>(speeds + 2));
    return bytes;
}

TEST_F(ConsoleStops, AnInterruptDuringTheWriteEndsItAfterTheRecordInFlight)
{
    // Three interrupts end the program at once, in the record's wait: the
    // state is said last, and the serial port has its own settings back.
    const std::string atOnce = "kt5cufirm: ended at once: the device was erased but not completely written and "
                               "verified: run the update again.";
    struct Case {
        bool network;
        std::vector<int> signals;  // distinct: none merges with another
    };
    for (const Case& c : {Case{false, {SIGINT}}, Case{true, {SIGINT}}, Case{false, {SIGHUP}},
                          Case{false, {SIGINT, SIGTERM, SIGHUP}}}) {
        SCOPED_TRACE(std::string(c.network ? "network " : "serial ") + strsignal(c.signals[0]) + " x" +
                     std::to_string(c.signals.size()));
        DeviceEmulatorOptions options;
        options.lateReplies = {{7, 2000}};  // the fifth record's acknowledgement
        DeviceEmulator device(options);
        ASSERT_TRUE(c.network ? device.startTcp() : device.startPty());
        XportEmulator xport(XportEmulatorOptions{});
        ASSERT_TRUE(!c.network || xport.start());
        const int port = c.network ? -1 : open(device.ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        const std::vector<uint8_t> before = settingsOf(port);
        const Strings args = c.network ? network(device) : Strings{"--device", device.ptyPath(), "--image", imageFile, "--yes"};
        ConsoleProcess run(args, {}, "5000,20");
        ASSERT_TRUE(eventually([&] { return device.counters().records == 5; }));
        for (int signal : c.signals)
            kill(run.pid(), signal);
        const Outcome outcome = run.wait();
        const bool ended = c.signals.size() == 3;
        EXPECT_EQ(outcome.status, 3) << outcome.err;
        EXPECT_THAT(outcome.err, HasSubstr("kt5cufirm: stopping after the current record"));
        EXPECT_EQ(outcome.lastErrLine(), ended ? atOnce : erasedLine.substr(0, erasedLine.size() - 1) + "; cause: the user stopped it.");
        const std::string quit = "The firmware was not written completely.\nLeaving the device's update mode ...\n";
        EXPECT_EQ(outcome.out.find(quit) != std::string::npos, !ended) << outcome.out;
        if (port >= 0) {
            EXPECT_EQ(settingsOf(port), before) << "the serial port's own settings put back";
            close(port);
        }
        const DeviceCounters counters = device.counters();
        EXPECT_EQ(counters.erases, 1);
        EXPECT_EQ(counters.records, 5);
        EXPECT_EQ(counters.quits, ended ? 0 : 1);
        if (c.network) {
            EXPECT_EQ(xport.record()[21], 2);
            EXPECT_FALSE(kept());
        }
    }
}

TEST_F(ConsoleStops, InterruptsInTheSettlingWaitAfterTheSwitch)
{
    // One: the wait is cut short and the XPort put back. Two more once the
    // restore's put is in: the program ends in the restore's wait, saying
    // what it may leave. A --check cut short is not complete.
    struct Case {
        bool check;
        std::vector<int> later;  // sent once the restore's put is in
        int status;
        std::string lastLine;
        size_t exchanges;
        uint8_t byte21;
    };
    const Case cases[] = {
        {false, {}, 1, "kt5cufirm: the device was not changed.", 5, 2},
        {true, {}, 1, "kt5cufirm: the device was not changed.", 5, 2},
        {false, {SIGINT, SIGHUP}, 4,
         "kt5cufirm: ended at once: the device was not changed; the XPort's setup could not be put back: "
         "run kt5cufirm --restore-xport --ip 127.0.0.1.",
         4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.later.size()) + (c.check ? " --check" : ""));
        DeviceEmulator device;
        ASSERT_TRUE(device.startTcp());
        XportEmulator xport(XportEmulatorOptions{});
        ASSERT_TRUE(xport.start());
        ConsoleProcess run(network(device, {c.check ? "--check" : "--yes"}), {}, "2000,3000");
        ASSERT_TRUE(xport.waitForExchanges(3, 10s));  // query, get setup, the switch's put
        kill(run.pid(), SIGTERM);
        if (!c.later.empty()) {
            ASSERT_TRUE(xport.waitForExchanges(4, 10s));
            for (int signal : c.later)  // distinct signals: none merges with another
                kill(run.pid(), signal);
        }
        const Outcome outcome = run.wait();
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        EXPECT_EQ(outcome.lastErrLine(), c.lastLine);
        EXPECT_EQ(device.counters().connections, 0);
        ASSERT_TRUE(xport.sync(2s));
        const auto exchanges = xport.exchanges();
        ASSERT_EQ(exchanges.size(), c.exchanges) << "no read-back after the cut wait: the restore's put comes next";
        EXPECT_EQ(exchanges[3].request.size(), 124u);
        EXPECT_EQ(exchanges[3].request[21], c.byte21);
        EXPECT_EQ(xport.record()[21], c.byte21);
        EXPECT_EQ(kept(), c.status == 4);
    }
}

// Standard output or error closed at the start, or a pipe nobody reads: the
// port or socket opened later never takes its descriptor and carries text;
// a broken pipe never ends the program (a status of its own, never 141) nor
// stops a run, whatever it was writing: the texts, the image's summary, a
// usage error, a run's lines, a fleet's question and summary.
TEST_F(ConsoleStops, ClosedOrBrokenStreamsNeverReachTheDeviceNorStopTheRun)
{
    DeviceEmulator serialDevice, net;
    ASSERT_TRUE(serialDevice.startPty());
    ASSERT_TRUE(net.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    const Strings serial = {"--device", serialDevice.ptyPath(), "--image", imageFile, "--yes"};
    const std::string report = (scratch.path() / "report.jsonl").string();
    const struct {
        Strings args;
        ProcessStreams streams;
        int status;
        const DeviceEmulator* updated;
    } rows[] = {
        {serial, {1, -1}, 0, &serialDevice},
        {serial, {2, -1}, 0, &serialDevice},
        {network(net), {1, -1}, 0, &net},
        {network(net), {2, -1}, 0, &net},
        {{"--help"}, {-1, 1}, 0, nullptr},
        {{"--check", "--image", imageFile}, {-1, 1}, 0, nullptr},
        {{"--bogus"}, {-1, 2}, 2, nullptr},
        {network(net), {-1, 1}, 0, &net},
        {network(net), {-1, 2}, 0, &net},
        {network(net, {"--report", report, "--yes"}), {-1, 1}, 0, &net},
    };
    int writes[2] = {0, 0};
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args) + " closed " + std::to_string(row.streams.closed) +
                     ", unread " + std::to_string(row.streams.unread));
        const Outcome outcome = ConsoleProcess(row.args, {}, "300,20", row.streams).wait();
        EXPECT_EQ(outcome.status, row.status) << outcome.err;
        EXPECT_THAT(outcome.err, Not(HasSubstr("rror")));
        writes[0] += row.updated == &serialDevice ? 1 : 0;
        writes[1] += row.updated == &net ? 1 : 0;
        for (const DeviceEmulator* device : {&serialDevice, &net}) {
            const DeviceCounters counters = device->counters();
            EXPECT_EQ(counters.strayBytes, 0) << device->summary();
            EXPECT_EQ(counters.completeWrites, writes[device == &net ? 1 : 0]) << device->summary();
        }
    }
    EXPECT_EQ(serialDevice.memory().bytes, imageMemory(image));
    EXPECT_EQ(net.memory().bytes, imageMemory(image));
    EXPECT_EQ(xport.record()[21], 2);
}

// A listener on 127.0.0.1 that never accepts, its backlog of 0 filled by two
// connections: the system drops every further SYN, so a connect to it gets
// no answer and goes on trying, as one to a unit that is switched off.
class UnansweredListener {
public:
    UnansweredListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 0) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        for (int& filler : fillers_) {
            filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        }
        std::this_thread::sleep_for(100ms);  // the first filler's handshake fills the backlog
        port_ = ntohs(address.sin_port);
    }
    ~UnansweredListener()
    {
        for (int filler : fillers_)
            close(filler);
        close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int fillers_[2] = {-1, -1};
    uint16_t port_ = 0;
};

TEST_F(ConsoleStops, AnInterruptCutsAConnectThatGetsNoAnswerAndTheXportIsPutBack)
{
    const UnansweredListener unanswered;
    ASSERT_NE(unanswered.port(), 0);
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    ConsoleProcess run({"--method", "network", "--ip", "127.0.0.1", "--tcp-port", std::to_string(unanswered.port()),
                        "--image", imageFile, "--yes"},
                       {}, "2000,20");
    ASSERT_TRUE(xport.waitForExchanges(4, 10s));  // the switch is read back: the connect follows
    std::this_thread::sleep_for(300ms);
    kill(run.pid(), SIGINT);
    const auto interrupted = std::chrono::steady_clock::now();
    const Outcome outcome = run.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - interrupted, 2s) << "the connect was not cut";
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_THAT(outcome.err, HasSubstr("kt5cufirm: error: the connection could not be made: 127.0.0.1:" +
                                       std::to_string(unanswered.port()) + ": " + std::strerror(EINTR) +
                                       ": the user stopped it\n"));
    EXPECT_EQ(outcome.lastErrLine(), "kt5cufirm: the device was not changed; cause: the user stopped it.");
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 6u) << "the restore's put and read-back follow";
    EXPECT_EQ(xport.record()[21], 2);
    EXPECT_FALSE(kept());
}

TEST_F(ConsoleStops, AFailedRestoreSaysHowToPutTheXportBack)
{
    DeviceEmulator device;
    ASSERT_TRUE(device.startTcp());
    XportEmulatorOptions options;
    options.unappliedPuts = {2};  // the restore's put is acknowledged but not applied
    XportEmulator xport(options);
    ASSERT_TRUE(xport.start());
    const Outcome update = runConsole(network(device));
    EXPECT_EQ(update.status, 4) << update.err;
    EXPECT_EQ(update.lastErrLine(), "kt5cufirm: the device was updated; the XPort's setup could not be put back: "
                                    "run kt5cufirm --restore-xport --ip 127.0.0.1; cause: the setup read back from "
                                    "127.0.0.1:30718 does not hold what was put.");
    EXPECT_EQ(device.memory().bytes, imageMemory(image));
    EXPECT_EQ(device.counters().quits, 1);
    EXPECT_EQ(xport.record()[21], 8);
    EXPECT_TRUE(kept());

    const Outcome repair = runConsole({"--restore-xport", "--ip", "127.0.0.1"});
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(repair.out, "Putting the XPort's setup back ...\nXPort setting was put back.\n");
    EXPECT_EQ(xport.record()[21], 2);
    EXPECT_FALSE(kept());
}

// A killed run leaves its kept setup; the next run puts its byte 21 back (as
// --restore-xport does, above).
TEST_F(ConsoleStops, AKilledRunLosesNotTheTrueXportSetup)
{
    DeviceEmulator device;
    ASSERT_TRUE(device.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    ConsoleProcess killed(network(device), {}, "2000,3000");
    ASSERT_TRUE(xport.waitForExchanges(3, 10s));  // the switch's put is in
    kill(killed.pid(), SIGKILL);
    EXPECT_EQ(killed.wait().status, -1);
    ASSERT_EQ(xport.record()[21], 8);
    ASSERT_TRUE(kept());

    const Outcome next = runConsole(network(device));
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_THAT(next.err, StartsWith("kt5cufirm: an XPort setup kept by an interrupted run was found for "
                                     "127.0.0.1; its byte 21 (2) is put back at the end\n"));
    EXPECT_EQ(xport.record()[21], 2);
    EXPECT_FALSE(kept());
}

TEST_F(ConsoleStops, ASetupThatCannotBeKeptStopsTheRunBeforeTheSwitch)
{
    DeviceEmulator device;
    ASSERT_TRUE(device.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    std::filesystem::remove_all(stateHome().path() / "kt5cufirm");
    std::ofstream(stateHome().path() / "kt5cufirm") << "a file where the folder belongs";
    const Outcome outcome = runConsole(network(device));
    std::filesystem::remove(stateHome().path() / "kt5cufirm");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_THAT(outcome.err, StartsWith("kt5cufirm: the XPort's setup cannot be kept in "));
    EXPECT_EQ(outcome.lastErrLine(), "kt5cufirm: the device was not changed.");
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 0u) << "no place for the address's lock: nothing is sent";
    EXPECT_EQ(device.counters().connections, 0);
}

// A kept record that cannot be read or is not one stops a single run, a
// fleet's unit and a repair before anything is sent, and stays as it is.
TEST_F(ConsoleStops, AKeptRecordThatCannotBeUsedStopsTheRunWithStatus4)
{
    enum Run { Single, Fleet, Repair };
    struct Case {
        std::string record;  // empty: a folder at the record's path
        Run run;
        std::string reason;
    };
    const std::string stateLine = "kt5cufirm: the device was not changed; the XPort's setup could not be put back: "
                                  "run kt5cufirm --restore-xport --ip 127.0.0.1.";
    const Case cases[] = {
        {"", Single, "it is a folder, not a file"},
        {std::string(5, '\2'), Fleet, "it holds 5 bytes, not 124"},
        {std::string(200, '\2'), Repair, "it is longer than 124 bytes"},
        {"", Repair, "it is a folder, not a file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason + " " + std::to_string(c.run));
        DeviceEmulator device;
        ASSERT_TRUE(device.startTcp());
        XportEmulator xport(XportEmulatorOptions{});
        ASSERT_TRUE(xport.start());
        std::filesystem::create_directories(c.record.empty() ? std::filesystem::path(keptSetupFile())
                                                             : std::filesystem::path(keptSetupFile()).parent_path());
        if (!c.record.empty())
            std::ofstream(keptSetupFile(), std::ios::binary) << c.record;
        const std::string label = "127.0.0.1:" + std::to_string(device.port());
        const Outcome outcome =
            runConsole(c.run == Single ? network(device)
                       : c.run == Fleet ? Strings{"--hosts", scratch.write("hosts", label + "\n").string(),
                                                  "--image", imageFile, "--yes"}
                                        : Strings{"--restore-xport", "--ip", "127.0.0.1"});
        EXPECT_EQ(outcome.status, 4) << outcome.err;
        EXPECT_THAT(outcome.err, HasSubstr("kt5cufirm: the kept XPort setup " + keptSetupFile() + " cannot be used (" +
                                           c.reason + "), so nothing was sent; "));
        const std::string expected = c.run == Repair ? "kt5cufirm: the XPort's setup could not be put back: "
                                                       "run kt5cufirm --restore-xport --ip 127.0.0.1."
                                     : c.run == Fleet ? "[" + label + "] " + stateLine
                                                      : stateLine;
        EXPECT_THAT(outcome.err, HasSubstr(expected + "\n"));
        ASSERT_TRUE(xport.sync(2s));
        EXPECT_EQ(xport.exchanges().size(), 0u);
        EXPECT_EQ(device.counters().connections, 0);
        EXPECT_EQ(c.record.empty() ? "" : readFile(keptSetupFile()), c.record) << "the record stays as it was";
        std::filesystem::remove_all(keptSetupFile());
    }
}

// The reviewer's case: a run as root (sudo -E) killed after the switch
// leaves a record only root can read. The user's next run stops with 4 and
// leaves it; root's repair then puts the true byte back.
TEST_F(ConsoleStops, ARecordAnotherUserLeftStopsTheRunAndStays)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run as another user";
    DeviceEmulator device;
    ASSERT_TRUE(device.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    ConsoleProcess killed(network(device), {}, "2000,3000");
    ASSERT_TRUE(xport.waitForExchanges(3, 10s));  // the switch's put is in
    kill(killed.pid(), SIGKILL);
    killed.wait();
    ASSERT_TRUE(kept());
    using std::filesystem::perms;
    for (const auto& open : {stateHome().path(), scratch.path()})
        std::filesystem::permissions(open, perms::owner_all | perms::group_read | perms::group_exec |
                                               perms::others_read | perms::others_exec);
    std::filesystem::permissions(imageFile, perms::owner_read | perms::owner_write | perms::others_read);
    Strings asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", KT5CUFIRM_PATH};
    const Strings args = network(device);
    asNobody.insert(asNobody.end(), args.begin(), args.end());
    const ProcessResult user = runProcess(
        asNobody, {"LC_ALL=C", "KT5CUFIRM_TEST_WAITS=300,20", "XDG_STATE_HOME=" + stateHome().path().string()});
    EXPECT_EQ(user.status, 4) << user.err;
    EXPECT_THAT(user.err, HasSubstr(keptSetupFile() + " cannot be used (Permission denied), so nothing was sent"));
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 3u) << "the user's run sent nothing";
    EXPECT_EQ(xport.record()[21], 8);
    ASSERT_TRUE(kept());

    const Outcome repair = runConsole({"--restore-xport", "--ip", "127.0.0.1"});
    EXPECT_EQ(repair.status, 0) << repair.err;
    EXPECT_EQ(xport.record()[21], 2);
    EXPECT_FALSE(kept());
}

// Two runs for one address started together: one works, the other stops at
// once saying which process holds the address; the XPort ends at its byte.
TEST_F(ConsoleStops, TwoRunsForOneAddressAtOnceOneWorksTheOtherStops)
{
    DeviceEmulator device;
    ASSERT_TRUE(device.startTcp());
    XportEmulator xport(XportEmulatorOptions{});
    ASSERT_TRUE(xport.start());
    ConsoleProcess first(network(device), {}, "300,1000");
    ConsoleProcess second(network(device), {}, "300,1000");
    const pid_t pids[] = {first.pid(), second.pid()};
    const Outcome outcomes[] = {first.wait(), second.wait()};
    const int stopped = outcomes[0].status == 1 ? 0 : 1;
    EXPECT_EQ(outcomes[stopped].status, 1) << outcomes[stopped].err;
    EXPECT_EQ(outcomes[1 - stopped].status, 0) << outcomes[1 - stopped].err;
    std::smatch holder;
    ASSERT_TRUE(std::regex_search(outcomes[stopped].err, holder,
                                  std::regex("another run (\\(process (\\d+)\\) )?is working on the XPort at "
                                             "127\\.0\\.0\\.1, so nothing was sent")))
        << outcomes[stopped].err;
    if (holder[2].matched) {  // none while the holder has yet to write its id
        EXPECT_EQ(std::stoi(holder[2]), pids[1 - stopped]);
    }
    EXPECT_EQ(outcomes[stopped].lastErrLine(), "kt5cufirm: the device was not changed.");
    ASSERT_TRUE(xport.sync(2s));
    EXPECT_EQ(xport.exchanges().size(), 6u);
    EXPECT_EQ(xport.record()[21], 2);
    EXPECT_EQ(device.counters().completeWrites, 1);
    EXPECT_FALSE(kept());
}

} // namespace

namespace {

// KT-58NET units on loopback addresses of their own (127.0.0.2, ...), each
// with its XPort on port 30718 and its device on a TCP port.
struct Unit {
    Unit(const std::string& at, DeviceEmulatorOptions options) : address(at)
    {
        options.address = at;
        device = std::make_unique<DeviceEmulator>(options);
        XportEmulatorOptions xportOptions;
        xportOptions.address = at;
        xport = std::make_unique<XportEmulator>(xportOptions);
    }
    bool start() { return device->startTcp() && xport->start(); }
    std::string label() const { return address + ":" + std::to_string(device->port()); }
    std::string address;
    std::unique_ptr<DeviceEmulator> device;
    std::unique_ptr<XportEmulator> xport;
};

class ConsoleFleet : public ::testing::Test {
protected:
    // Units on 127.0.0.2 on, one for each set of options.
    bool start(const std::vector<DeviceEmulatorOptions>& options)
    {
        for (const DeviceEmulatorOptions& o : options) {
            units.push_back(std::make_unique<Unit>("127.0.0." + std::to_string(units.size() + 2), o));
            if (!units.back()->start())
                return false;
        }
        return true;
    }
    std::string hostsFile() const
    {
        std::string text = "# the units\n\n";
        for (const auto& unit : units)
            text += unit->label() + "   # hall\n";
        return scratch.write("hosts", text).string();
    }
    Strings fleet(Strings more) const
    {
        more.insert(more.begin(), {"--image", imageFile, "--report", reportFile});
        return more;
    }
    // The summary's row of `unit` with its seconds left out.
    static std::string row(const Outcome& outcome, const Unit& unit)
    {
        const size_t at = outcome.out.rfind("\n" + unit.label() + " ");
        if (at == std::string::npos)
            return "no row for " + unit.label();
        std::string line = outcome.out.substr(at + 1, outcome.out.find('\n', at + 1) - at - 1);
        line = line.substr(unit.label().size(), line.find_last_not_of(" 0123456789.-") - unit.label().size() + 1);
        return line.substr(line.find_first_not_of(' '));
    }
    Strings report() const
    {
        Strings lines;
        std::ifstream in(reportFile);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line.substr(0, line.find(",\"seconds\":")));
        return lines;
    }
    std::string reportLine(const Unit& unit, const std::string& before, const std::string& after,
                           const std::string& result, int status) const
    {
        auto text = [](const std::string& v) { return v.empty() ? std::string("null") : "\"" + v + "\""; };
        return "{\"host\":\"" + unit.address + "\",\"address\":\"" + unit.address +
               "\",\"tcp_port\":" + std::to_string(unit.device->port()) + ",\"version_before\":" + text(before) +
               ",\"version_after\":" + text(after) + ",\"result\":\"" + result +
               "\",\"status\":" + std::to_string(status);
    }
    bool keptAny() const
    {
        for (const auto& unit : units)
            if (std::filesystem::exists(stateHome().path() / "kt5cufirm" / ("xport-" + unit->address + ".setup")))
                return true;
        return false;
    }
    ScratchDir scratch;
    const std::string image = sampleImage("0201", 30, 16);
    const std::string imageFile = scratch.write("image.hex", image).string();
    const std::string reportFile = (scratch.path() / "report.jsonl").string();
    std::vector<std::unique_ptr<Unit>> units;
};

TEST_F(ConsoleFleet, TwoDevicesAndOneThatRefusesTheConnection)
{
    ASSERT_TRUE(start({{}, {}, {}}));
    units[2]->device->stop();  // its XPort answers, its data port refuses
    const Outcome outcome = runConsole(fleet({"--hosts", hostsFile(), "--yes"}));
    EXPECT_EQ(outcome.status, 1) << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr("Update 3 KT-58NET units to Ver 1.02? y\n"));
    EXPECT_THAT(outcome.out, HasSubstr("[" + units[1]->label() + "] Update the KT-58NET on " + units[1]->address +
                                       " from Ver 1.00 to Ver 1.02? y\n"));
    EXPECT_THAT(outcome.err, HasSubstr("[" + units[2]->label() + "] kt5cufirm: error: the connection could not be made: " +
                                       units[2]->label() + ": Connection refused\n"));
    EXPECT_THAT(outcome.err, HasSubstr("[" + units[0]->label() + "] written 100% ("));
    EXPECT_EQ(row(outcome, *units[0]), "1.00    1.02    complete");
    EXPECT_EQ(row(outcome, *units[1]), "1.00    1.02    complete");
    EXPECT_EQ(row(outcome, *units[2]), "-       -       failed before the erase");
    EXPECT_EQ(report(), (Strings{reportLine(*units[0], "1.00", "1.02", "complete", 0),
                                 reportLine(*units[1], "1.00", "1.02", "complete", 0),
                                 reportLine(*units[2], "", "", "failed before the erase", 1)}));
    EXPECT_EQ(outcome.lastErrLine(),
              "kt5cufirm: 1 of 3 units did not end complete or skipped; their states are in the summary");
    for (const auto& unit : units) {
        SCOPED_TRACE(unit->address);
        ASSERT_TRUE(unit->xport->sync(2s));
        EXPECT_EQ(unit->xport->exchanges().size(), 6u);
        EXPECT_EQ(unit->xport->record()[21], 2) << "the XPort put back";
        if (unit != units[2]) {
            EXPECT_EQ(unit->device->memory().bytes, imageMemory(image));
        }
    }
    EXPECT_FALSE(keptAny());

    // The refusing unit first, with --stop-on-error: the others are not attempted.
    const std::string refusingFirst =
        scratch.write("refusing-first", units[2]->label() + "\n" + units[0]->label() + "\n").string();
    const Outcome stopped = runConsole(fleet({"--hosts", refusingFirst, "--stop-on-error", "--yes"}));
    EXPECT_EQ(stopped.status, 1) << stopped.err;
    EXPECT_EQ(row(stopped, *units[2]), "-       -       failed before the erase");
    EXPECT_EQ(row(stopped, *units[0]), "-       -       not attempted");
    EXPECT_EQ(units[0]->device->counters().connections, 1);
}

TEST_F(ConsoleFleet, IfNewerLeavesAUnitAtTheImagesVersionAlone)
{
    DeviceEmulatorOptions current;
    current.minor = 0x02;  // Ver 1.02, the image's
    ASSERT_TRUE(start({current}));
    DeviceEmulatorOptions older;
    older.port = units[0]->device->port();  // both reached with one --tcp-port
    ASSERT_TRUE(start({older}));
    const Outcome outcome = runConsole(fleet({"--if-newer", "--ip", "127.0.0.2", "--ip", "127.0.0.3", "--tcp-port",
                                              std::to_string(older.port), "--yes"}));
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr("[" + units[0]->label() +
                                       "] Left alone: the device has Ver 1.02 already (the image: Ver 1.02).\n"));
    EXPECT_EQ(row(outcome, *units[0]), "1.02    1.02    skipped");
    EXPECT_EQ(row(outcome, *units[1]), "1.00    1.02    complete");
    EXPECT_EQ(report(), (Strings{reportLine(*units[0], "1.02", "1.02", "skipped", 0),
                                 reportLine(*units[1], "1.00", "1.02", "complete", 0)}));
    const DeviceCounters skipped = units[0]->device->counters();
    EXPECT_EQ(std::make_tuple(skipped.identifies, skipped.erases, skipped.quits), std::make_tuple(1, 0, 1));
    EXPECT_EQ(units[1]->device->counters().erases, 1);
    ASSERT_TRUE(units[0]->xport->sync(2s));
    EXPECT_EQ(units[0]->xport->record()[21], 2);
}

TEST_F(ConsoleFleet, AnInterruptStopsAfterTheUnitInProgress)
{
    DeviceEmulatorOptions held;
    held.lateReplies = {{7, 2000}};  // the fifth record's acknowledgement
    ASSERT_TRUE(start({{}, held, {}}));
    ConsoleProcess run(fleet({"--hosts", hostsFile(), "--yes"}), {}, "5000,20");
    const bool writing = eventually([&] { return units[1]->device->counters().records == 5; });
    kill(run.pid(), SIGINT);
    const Outcome outcome = run.wait();
    ASSERT_TRUE(writing) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.status, 3) << outcome.err;
    EXPECT_EQ(row(outcome, *units[0]), "1.00    1.02    complete");
    EXPECT_EQ(row(outcome, *units[1]), "1.00    -       erased but incomplete");
    EXPECT_EQ(row(outcome, *units[2]), "-       -       not attempted");
    EXPECT_EQ(report(), (Strings{reportLine(*units[0], "1.00", "1.02", "complete", 0),
                                 reportLine(*units[1], "1.00", "", "erased but incomplete", 3),
                                 reportLine(*units[2], "", "", "not attempted", 1)}));
    EXPECT_EQ(units[1]->device->counters().quits, 1);
    ASSERT_TRUE(units[1]->xport->sync(2s));
    EXPECT_EQ(units[1]->xport->record()[21], 2) << "the second unit's XPort put back";
    ASSERT_TRUE(units[2]->xport->sync(2s));
    EXPECT_EQ(units[2]->xport->exchanges().size(), 0u);
    EXPECT_EQ(units[2]->device->counters().connections, 0);
    EXPECT_FALSE(keptAny());
}

TEST_F(ConsoleFleet, EightUnitsSideBySideTakeTurnsAtTheXports)
{
    ASSERT_TRUE(start(std::vector<DeviceEmulatorOptions>(8)));
    const std::string logs = (scratch.path() / "logs").string();
    const Outcome outcome = ConsoleProcess(fleet({"--hosts", hostsFile(), "--parallel", "8", "--yes", "--log-dir",
                                                  logs, "--trace"}),
                                           {}, "1000,400")
                                .wait();
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    Strings expected;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> exchanges;
    for (const auto& unit : units) {
        SCOPED_TRACE(unit->address);
        EXPECT_EQ(row(outcome, *unit), "1.00    1.02    complete");
        expected.push_back(reportLine(*unit, "1.00", "1.02", "complete", 0));
        ASSERT_TRUE(unit->xport->sync(2s));
        EXPECT_EQ(unit->xport->record()[21], 2) << "the XPort put back";
        EXPECT_EQ(unit->device->memory().bytes, imageMemory(image));
        for (const XportExchange& exchange : unit->xport->exchanges())
            exchanges.emplace_back(exchange.received, unit->address);
        // Its own log: its lines timed, and its trace, no other unit's.
        Strings named;
        for (const auto& entry : std::filesystem::directory_iterator(logs))
            if (entry.path().filename().string().rfind(unit->address + "_" + std::to_string(unit->device->port()) + "-", 0) == 0)
                named.push_back(entry.path().string());
        ASSERT_EQ(named.size(), 1u);
        const std::string log = readFile(named.front());
        EXPECT_THAT(log, ::testing::ContainsRegex("\n[0-9-]+ [0-9:]+\\.[0-9]+ Update complete\\.\n"));
        EXPECT_THAT(log, HasSubstr("udp out " + unit->address + ":30718"));
        EXPECT_EQ(log.find("] "), std::string::npos) << "no prefix in its own log";
        for (const auto& other : units)
            if (other != unit) {
                EXPECT_THAT(log, Not(HasSubstr(other->address + ":")));
            }
    }
    Strings reported = report();
    std::sort(reported.begin(), reported.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(reported, expected) << "the report and the summary agree";
    // Each exchange's request reached its XPort after the one before had its
    // reply: the units' exchanges came one at a time, and interleaved.
    ASSERT_EQ(exchanges.size(), 48u);
    std::sort(exchanges.begin(), exchanges.end());
    size_t unitChanges = 0;
    for (size_t i = 1; i < exchanges.size(); ++i)
        unitChanges += exchanges[i].second != exchanges[i - 1].second ? 1 : 0;
    EXPECT_GT(unitChanges, 7u) << "the units ran side by side";
    EXPECT_FALSE(keptAny());
}

// Two units held in their writes at once, a third waiting: one interrupt
// stops both after their records and puts both XPorts back; three end the
// fleet at once with the summary, the whole report and the worst status.
TEST_F(ConsoleFleet, InterruptsStopEveryUnitRunningSideBySide)
{
    DeviceEmulatorOptions held;
    held.lateReplies = {{7, 2000}};  // the fifth record's acknowledgement
    for (const int interrupts : {1, 3}) {
        SCOPED_TRACE(interrupts);
        units.clear();
        ASSERT_TRUE(start({held, held, {}}));
        ConsoleProcess run(fleet({"--hosts", hostsFile(), "--parallel", "2", "--yes"}), {}, "5000,20");
        const bool writing = eventually([&] {
            return units[0]->device->counters().records >= 5 && units[1]->device->counters().records >= 5;
        });
        for (int i = 0; i < interrupts; ++i) {
            kill(run.pid(), SIGINT);
            std::this_thread::sleep_for(50ms);
        }
        const Outcome outcome = run.wait();
        ASSERT_TRUE(writing) << outcome.out << outcome.err;
        const std::string result = interrupts == 1 ? "erased but incomplete" : "XPort not restored";
        EXPECT_EQ(outcome.status, interrupts == 1 ? 3 : 4) << outcome.err;
        EXPECT_THAT(row(outcome, *units[0]), EndsWith(result));
        EXPECT_THAT(row(outcome, *units[1]), EndsWith(result));
        EXPECT_EQ(row(outcome, *units[2]), "-       -       not attempted");
        const Strings lines = report();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[2], reportLine(*units[2], "", "", "not attempted", 1));
        EXPECT_EQ(units[2]->device->counters().connections, 0);
        EXPECT_EQ(keptAny(), interrupts == 3) << "a record is kept where the XPort was left switched";
        for (const auto& unit : units)
            std::filesystem::remove(stateHome().path() / "kt5cufirm" / ("xport-" + unit->address + ".setup"));
        for (int i = 0; i < 2 && interrupts == 1; ++i) {
            ASSERT_TRUE(units[i]->xport->sync(2s));
            EXPECT_EQ(units[i]->xport->record()[21], 2) << "the XPort put back";
        }
    }
}

TEST_F(ConsoleFleet, ThreeSerialUnitsAtOnceEachNamedByItsPort)
{
    std::vector<std::unique_ptr<DeviceEmulator>> devices;
    Strings args{"--parallel", "3", "--yes"};
    std::vector<int> ports;  // each unit's port, as another opener sees its settings
    for (int i = 0; i < 3; ++i) {
        devices.push_back(std::make_unique<DeviceEmulator>(DeviceEmulatorOptions{}));
        ASSERT_TRUE(devices.back()->startPty());
        args.insert(args.end(), {"--device", devices.back()->ptyPath()});
        ports.push_back(open(devices.back()->ptyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        ASSERT_GE(ports.back(), 0);
    }
    std::vector<std::vector<uint8_t>> before;
    for (const int port : ports)
        before.push_back(settingsOf(port));
    const Outcome outcome = runConsole(fleet(args));
    // Every port gets its own settings back, not only the last one opened.
    for (size_t i = 0; i < ports.size(); ++i) {
        EXPECT_EQ(settingsOf(ports[i]), before[i]) << devices[i]->ptyPath();
        close(ports[i]);
    }
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_THAT(outcome.out, HasSubstr("Update 3 KT-58CU units to Ver 1.02? y\n"));
    EXPECT_THAT(outcome.out, StartsWith("Update 3"));
    const Strings lines = report();
    ASSERT_EQ(lines.size(), 3u);
    for (const auto& device : devices) {
        SCOPED_TRACE(device->ptyPath());
        EXPECT_EQ(device->memory().bytes, imageMemory(image));
        EXPECT_THAT(outcome.out, HasSubstr("[" + device->ptyPath() + "] Update the KT-58CU on " + device->ptyPath() +
                                           " from Ver 1.00 to Ver 1.02? y\n"));
        EXPECT_THAT(outcome.out, HasSubstr("\n" + device->ptyPath() + " "));
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "{\"port\":\"" + device->ptyPath() +
                                 "\",\"stable_name\":null,\"serial_number\":null,\"version_before\":\"1.00\","
                                 "\"version_after\":\"1.02\",\"result\":\"complete\",\"status\":0"),
                  1);
    }
}

// On a terminal each running unit has a row redrawn in place below the
// text (its name, phase and bar), and the finished units' results scroll above.
TEST_F(ConsoleFleet, SideBySideOnATerminalEachUnitHasARow)
{
    DeviceEmulatorOptions slow;
    slow.lateReplies = {{7, 200}, {12, 200}};
    ASSERT_TRUE(start({slow, slow}));
    int status = -1;
    const std::string screen =
        runOnTerminal(fleet({"--hosts", hostsFile(), "--parallel", "2", "--yes"}), "", &status);
    ASSERT_EQ(WEXITSTATUS(status), 0) << screen;
    EXPECT_THAT(screen, HasSubstr("\033[2A\r\033[J")) << "two rows taken away before a line";
    for (const auto& unit : units) {
        SCOPED_TRACE(unit->label());
        // A row: the unit's name, then its phase, its settling or its bar
        // (as narrow as 40 columns leave: the percent and bytes).
        EXPECT_THAT(screen, HasSubstr(unit->label() + "  Erasing the device"));
        EXPECT_THAT(screen, HasSubstr(unit->label() + "  XPort settling: 1 s"));
        EXPECT_THAT(screen, ::testing::ContainsRegex(unit->label() + "   *[0-9]+%  [0-9]+/[0-9]+ bytes\r\n"));
        EXPECT_THAT(screen, HasSubstr("[" + unit->label() + "] Update complete.\r\n"));
        EXPECT_THAT(screen, Not(HasSubstr("[" + unit->label() + "] written ")));
    }
}

TEST_F(ConsoleFleet, RetryRunsAgainOnlyTheUnitsTheReportShowsNotComplete)
{
    ASSERT_TRUE(start({{}, {}, {}}));
    units[1]->device->stop();  // its XPort answers, its data port refuses
    ASSERT_EQ(runConsole(fleet({"--hosts", hostsFile(), "--yes", "--parallel", "3"})).status, 1);
    const std::string first = scratch.write("first.jsonl", readFile(reportFile)).string();
    const Outcome retried = runConsole(fleet({"--retry", first, "--yes"}));
    EXPECT_EQ(retried.status, 1) << retried.err;
    EXPECT_THAT(retried.out, HasSubstr("Update 1 KT-58NET units to Ver 1.02? y\n"));
    EXPECT_EQ(report(), (Strings{reportLine(*units[1], "", "", "failed before the erase", 1)}));
    for (const size_t i : {0u, 2u}) {
        EXPECT_EQ(units[i]->device->counters().connections, 1) << "left alone: " << units[i]->label();
        EXPECT_EQ(units[i]->xport->exchanges().size(), 6u);
    }
    ASSERT_TRUE(units[1]->xport->sync(2s));
    EXPECT_EQ(units[1]->xport->exchanges().size(), 12u) << "the refusing unit's XPort switched and put back again";
    // A report whose units all ended well leaves everything alone.
    const std::string allWell = scratch.write("well.jsonl", reportLine(*units[0], "1.00", "1.02", "complete", 0) +
                                                                 ",\"seconds\":1.0}\n").string();
    const Outcome nothing = runConsole({"--retry", allWell, "--yes", "--image", imageFile});
    EXPECT_EQ(nothing.status, 0);
    EXPECT_EQ(nothing.lastErrLine(), "kt5cufirm: " + allWell +
                                         " shows every unit complete or skipped: nothing to run again");
}

// Before any unit is touched: one unit named twice, a report that would
// overwrite the hosts file or the image, nobody to ask, a declined fleet
// (its old report kept).
TEST_F(ConsoleFleet, NothingIsTouchedWhenTheFleetCannotBeTrusted)
{
    ASSERT_TRUE(start({{}}));
    const std::string port = std::to_string(units[0]->device->port());
    const std::string spelled = scratch.write("spelled", "127.0.0.2:" + port + "\nlocalhost\nLOCALHOST:10001\n").string();
    const std::string hosts = hostsFile();
    const std::string oldReport = "{\"old\":1}\n";
    struct Case {
        const char* what;
        Strings args;
        int status;
        std::string lastLine;
    } cases[] = {
        {"one unit three ways", {"--ip", "127.0.0.1", "--hosts", spelled, "--yes", "--image", imageFile}, 2,
         "kt5cufirm: --ip 127.0.0.1 and line 2 (localhost) are one unit, 127.0.0.1:10001: name each unit once"},
        {"the same address and port by --ip and a line", fleet({"--ip", "127.0.0.2", "--tcp-port", port, "--hosts", hosts, "--yes"}),
         2, "kt5cufirm: --ip 127.0.0.2 and line 3 (127.0.0.2) are one unit, 127.0.0.2:" + port + ": name each unit once"},
        {"the report is the hosts file", {"--hosts", hosts, "--report", (scratch.path() / "." / "hosts").string(), "--yes",
                                          "--image", imageFile}, 2, ""},
        {"the report is the image", {"--hosts", hosts, "--report", imageFile, "--yes", "--image", imageFile}, 2, ""},
        {"nobody to ask", fleet({"--hosts", hosts}), 2,
         "kt5cufirm: the run asks before the device is erased, but there is no terminal to ask on: give --yes to "
         "answer Yes (nothing was touched)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(reportFile) << oldReport;
        const Outcome outcome = runConsole(c.args);
        EXPECT_EQ(outcome.status, c.status) << outcome.err;
        if (!c.lastLine.empty()) {
            EXPECT_THAT(outcome.err, HasSubstr(c.lastLine + "\n"));
        } else {
            EXPECT_THAT(outcome.err, HasSubstr(": the report would overwrite it\n"));
        }
        EXPECT_EQ(readFile(reportFile), oldReport) << "the old report as it was";
        EXPECT_EQ(readFile(hosts), "# the units\n\n" + units[0]->label() + "   # hall\n") << "the hosts file as it was";
        EXPECT_EQ(readFile(imageFile), image);
    }
    // Declined on the terminal: the old report as it was.
    int status = -1;
    const std::string screen = runOnTerminal(fleet({"--hosts", hosts}), "n\n", &status);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << screen;
    EXPECT_THAT(screen, HasSubstr("kt5cufirm: no unit was changed."));
    EXPECT_EQ(readFile(reportFile), oldReport);
    EXPECT_EQ(units[0]->device->counters().connections, 0);
    EXPECT_EQ(units[0]->xport->exchanges().size(), 0u);
}

// --discover over a range: the XPorts that answer the query with its length,
// each one's byte 21 read and nothing put; a silent address and a device
// answering with another length are left out.
TEST_F(ConsoleFleet, DiscoverFindsTheXportsOfARangeAndChangesNothing)
{
    ASSERT_TRUE(start({{}, {}, {}}));
    units[1]->xport.reset();
    XportEmulatorOptions switched;
    switched.address = units[1]->address;
    switched.record = defaultXportRecord(8);
    units[1]->xport = std::make_unique<XportEmulator>(switched);
    ASSERT_TRUE(units[1]->xport->start());
    units[2]->xport.reset();
    XportEmulatorOptions other;
    other.address = units[2]->address;
    other.queryReplyLength = 32;
    units[2]->xport = std::make_unique<XportEmulator>(other);
    ASSERT_TRUE(units[2]->xport->start());
    const std::string discovered = (scratch.path() / "found.jsonl").string();
    const Outcome table = runConsole({"--discover", "127.0.0.0/28", "--report", discovered});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_THAT(table.out, StartsWith("Address          Reply     Byte 21\n127.0.0.2 "));
    EXPECT_THAT(table.out, ::testing::ContainsRegex("\n127\\.0\\.0\\.2 +[0-9]+ ms  2\n"));
    EXPECT_THAT(table.out, HasSubstr(" ms  8  possibly left switched by an interrupted update: kt5cufirm "
                                     "--restore-xport --ip 127.0.0.3 (if this machine kept its record)\n"));
    EXPECT_THAT(table.out, Not(HasSubstr("127.0.0.4")));
    const Strings lines = linesStartingWith(readFile(discovered), "{");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[1], ::testing::MatchesRegex("\\{\"address\":\"127\\.0\\.0\\.3\",\"reply_ms\":[0-9.]+,"
                                                  "\"byte21\":8,\"left_switched\":true\\}"));
    const Outcome quiet = runConsole({"--discover", "127.0.0.2", "127.0.0.3", "127.0.0.9", "-q"});
    EXPECT_EQ(quiet.out, "127.0.0.2\n127.0.0.3\n");
    const Outcome silent = runConsole({"--discover", "127.0.0.9"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.lastErrLine(), "kt5cufirm: no XPort answered the query");
    for (const auto& unit : units) {
        SCOPED_TRACE(unit->address);
        for (const XportExchange& exchange : unit->xport->exchanges())
            EXPECT_THAT(exchange.request, ::testing::AnyOf(::testing::ElementsAre(0, 0, 0, 0xF6),
                                                           ::testing::ElementsAre(0, 0, 0, 0xF8)))
                << "a query or a get-setup, never a put";
    }
    EXPECT_EQ(units[0]->xport->record()[21], 2);
    EXPECT_EQ(units[1]->xport->record()[21], 8);
}

} // namespace
