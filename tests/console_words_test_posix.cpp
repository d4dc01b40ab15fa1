// What kt5cufirm says about a run, as a process against kt58sim: the cause
// of each kind of failure in its error line and its state line, the header
// and the summary, the progress, a Japanese run and the image's digest.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kt_version.h"
#include "process_run.h"
#include "sha256.h"
#include "test_support.h"

namespace {

using Strings = std::vector<std::string>;

const char kSetpriv[] = "/usr/bin/setpriv";

// The name of the group that owns `path`.
std::string groupOf(const std::string& path)
{
    struct stat status {};
    const group* owner = stat(path.c_str(), &status) == 0 ? getgrgid(status.st_gid) : nullptr;
    return owner != nullptr ? owner->gr_name : "?";
}

// kt58sim with `faults`, ready: its pseudo-terminal's path, or its TCP port.
struct Sim {
    std::unique_ptr<Process> process;
    std::string where;
};

Sim startSim(const Strings& faults, bool network)
{
    Strings args = {KT58SIM_PATH, network ? "--port=0" : "--pty"};
    if (network)
        args.push_back("--xport");
    args.insert(args.end(), faults.begin(), faults.end());
    Sim sim;
    // The XPort's fixed port may be held a while by another program's run.
    for (int attempt = 0; attempt < 200; ++attempt) {
        sim.process = std::make_unique<Process>(args);
        if (sim.process->waitFor(network ? "XPort configuration port" : "serial port ", Milliseconds(5000)) ||
            sim.process->output().find("already in use") == std::string::npos)
            break;
        sim.process->finish();
        usleep(100000);
    }
    std::smatch found;
    const std::string ready = sim.process->output();
    if (std::regex_search(ready, found, std::regex(network ? "127\\.0\\.0\\.1:(\\d+)\n" : "serial port (\\S+)\n")))
        sim.where = found[1];
    return sim;
}

enum class Setup { Sim, MissingPort, NoPermission, BusyPort, Cancel };

struct Case {
    const char* name;
    Setup setup;
    bool network;
    Strings faults;
    int status;
    std::string cause;      // at the end of the error line, and in the state line
    std::string hint = {};  // a further line, when the failure has one
};

// The image has 6 data records of 16 bytes and its end-of-file record:
// requests are 1 identify, 2 erase, 3-9 the records, 10 verify, 11 quit.
const Case kCases[] = {
    {"silent at record 3", Setup::Sim, false, {"--silent-from=5"}, 3,
     "record 3 of 7 (line 4, address 0x0020): no reply within 0.3 s"},
    {"silent at record 3 (network)", Setup::Sim, true, {"--silent-from=5"}, 3,
     "record 3 of 7 (line 4, address 0x0020): no reply within 0.3 s"},
    {"wrong letter", Setup::Sim, false, {"--wrong-letter=6"}, 3,
     "record 4 of 7 (line 5, address 0x0030): the device answered 'XFL' instead of 'EFL'"},
    {"last record", Setup::Sim, false, {"--efl-at-end"}, 3,
     "record 7 of 7 (line 8, address 0x0000): the device answered 'EFL' instead of 'EFW'"},
    {"hang-up", Setup::Sim, true, {"--close-after-records=3"}, 3,
     "record 4 of 7 (line 5, address 0x0030): the device closed the connection"},
    {"wrong version", Setup::Sim, false, {"--wrong-version"}, 3,
     "the version check: the device reports Ver 1.03, the image is Ver 1.02"},
    {"silent at the identify", Setup::Sim, false, {"--silent-from=1"}, 1, "no reply within 0.3 s"},
    {"cancel", Setup::Cancel, false, {"--program-ms=150"}, 3, "the user stopped it"},
    {"missing port", Setup::MissingPort, false, {}, 1, "/nonexistent/ttyUSB9: No such file or directory",
     "kt5cufirm: hint: there is no such port; kt5cufirm --list-ports lists this machine's serial ports"},
    {"permission denied", Setup::NoPermission, false, {}, 1, ": Permission denied",
     "kt5cufirm: hint: the port belongs to group GROUP; join it with sudo usermod -aG GROUP $USER, then log in again"},
    {"busy port", Setup::BusyPort, false, {}, 1, ": Resource temporarily unavailable",
     "kt5cufirm: hint: the port is held by console_words_t (pid " + std::to_string(getpid()) + ")"},  // and kt58sim
    {"XPort silent", Setup::Sim, true, {"--xport-silent=1"}, 1,
     "no reply from 127.0.0.1:30718 within 0.3 s (check the address, a firewall, and that the module is an XPort)"},
};

// The last line of `text`, without its line end.
std::string lastLine(const std::string& text)
{
    const size_t end = text.find_last_not_of('\n');
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

class ConsoleWords : public ::testing::Test {
protected:
    ConsoleWords() { chmod(scratch.path().c_str(), 0755); }

    Strings updateArgs(const std::string& where, bool network) const
    {
        Strings args = {KT5CUFIRM_PATH, "--image", imageFile.string(), "--yes"};
        if (network)
            args.insert(args.end(), {"--method", "network", "--ip", "127.0.0.1", "--tcp-port", where});
        else
            args.insert(args.end(), {"--device", where});
        return args;
    }

    Strings environment(const std::string& language = "C") const
    {
        return {"LC_ALL=" + language, "LANG", "KT5CUFIRM_TEST_WAITS=300,50", "XDG_STATE_HOME=" + scratch.path().string()};
    }

    // A run of kt5cufirm as `c` sets it up.
    ProcessResult run(const Case& c)
    {
        if (c.setup == Setup::MissingPort)
            return runProcess(updateArgs("/nonexistent/ttyUSB9", false), environment());
        Sim sim = startSim(c.faults, c.network);
        EXPECT_FALSE(sim.where.empty()) << sim.process->output();
        portGroup_ = groupOf(sim.where);
        ProcessResult result;
        if (c.setup == Setup::NoPermission) {
            // As a user who may not open the root-owned pseudo-terminal.
            Strings args = {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
            for (const std::string& arg : updateArgs(sim.where, false))
                args.push_back(arg);
            result = runProcess(args, environment());
        } else if (c.setup == Setup::BusyPort) {
            const int held = open(sim.where.c_str(), O_RDWR | O_NOCTTY);
            EXPECT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
            result = runProcess(updateArgs(sim.where, false), environment());
            close(held);
        } else if (c.setup == Setup::Cancel) {
            Process update(updateArgs(sim.where, false), environment());
            EXPECT_TRUE(update.waitFor("Writing the firmware")) << update.output();
            usleep(300000);
            update.signal(SIGINT);
            result = update.finish();
        } else {
            result = runProcess(updateArgs(sim.where, c.network), environment());
        }
        sim.process->signal(SIGTERM);
        sim.process->finish();
        return result;
    }

    std::string portGroup_;  // the group of the last run's pseudo-terminal
    ScratchDir scratch;
    const std::string image = sampleImage("0201", 6, 16);
    const std::filesystem::path imageFile = scratch.write("image.hex", image);
    const std::string digest = sha256Hex(reinterpret_cast<const uint8_t*>(image.data()), image.size());
};

TEST_F(ConsoleWords, EveryFailureNamesItsCause)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        if (c.setup == Setup::NoPermission && (getuid() != 0 || access(kSetpriv, X_OK) != 0)) {
            std::printf("skipped \"%s\": it needs root and %s to run as another user\n", c.name, kSetpriv);
            continue;
        }
        const ProcessResult result = run(c);
        SCOPED_TRACE(result.all);
        EXPECT_EQ(result.status, c.status);
        // The error line ends with the cause, the state line names it too.
        const std::string pattern = std::regex_replace(c.cause, std::regex("[.()$^*+?|\\[\\]]"), "\\$&");
        EXPECT_TRUE(std::regex_search(result.err, std::regex("kt5cufirm: error: [^\n]*" + pattern + "\n")));
        EXPECT_TRUE(std::regex_search(lastLine(result.err), std::regex("cause: [^ ]*" + pattern + "\\.$")))
            << lastLine(result.err);
        if (!c.hint.empty()) {
            const std::string hint = std::regex_replace(c.hint, std::regex("GROUP"), portGroup_);
            EXPECT_NE(result.err.find(hint), std::string::npos) << hint;
        }
    }
}

TEST_F(ConsoleWords, AHeaderASummaryAndProgressToTheWholeImage)
{
    const Sim sim = startSim({}, false);
    const ProcessResult result = runProcess(updateArgs(sim.where, false), environment());
    EXPECT_EQ(result.status, 0) << result.all;
    EXPECT_EQ(result.out.substr(0, result.out.find('\n') + 1),
              "kt5cufirm " KT_VERSION_TEXT ": KT-58CU on " + sim.where + "; image " + imageFile.string() +
                  ": Ver 1.02, 7 records, 96 data bytes, SHA-256 " + digest + "\n");
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nWritten: 7 records, 96 data bytes in [0-9]+\\.[0-9] s, "
                                                         "[0-9]+ bytes/s \\([0-9]+ % of the 115200 baud line's "
                                                         "limit\\); the device now has Ver 1\\.02\\.\n")))
        << result.out;
    EXPECT_NE(result.err.find("\nwritten 100% (96/96 bytes)\n"), std::string::npos) << result.err;
}

// Every line of a Japanese run is Japanese: what is left once names, paths,
// numbers and the device's bytes are taken out holds no Latin letter.
TEST_F(ConsoleWords, AJapaneseRunSpeaksJapaneseOnEveryLine)
{
    const std::regex names("kt5cufirm|KT5CUFIRM_TEST_WAITS|KT-58CU|XPort|Ver|SHA-256|KiB/s|baud|CR LF|\\bms\\b|"
                           "\\([0-9a-f]{7}\\)|[0-9a-f]{64}|0x[0-9A-F]+|'[^']*'|\\S*/\\S*|\\? [yn]$");  // the answer's key
    for (const Strings& faults : {Strings{}, Strings{"--wrong-letter=6"}}) {
        const Sim sim = startSim(faults, false);
        const ProcessResult result = runProcess(updateArgs(sim.where, false), environment("ja_JP.UTF-8"));
        EXPECT_EQ(result.status, faults.empty() ? 0 : 3) << result.all;
        std::istringstream lines(result.all);
        int count = 0;
        for (std::string line; std::getline(lines, line); ++count) {
            const std::string rest = std::regex_replace(line, names, "");
            EXPECT_FALSE(std::regex_search(rest, std::regex("[A-Za-z]"))) << line;
        }
        EXPECT_GT(count, 10);
    }
}

TEST_F(ConsoleWords, AnImageIsRefusedWhoseDigestIsNotTheOneExpected)
{
    const ProcessResult right = runProcess({KT5CUFIRM_PATH, "--check", "--image", imageFile.string(),
                                            "--expect-sha256", digest}, environment());
    EXPECT_EQ(right.status, 0) << right.all;
    EXPECT_NE(right.out.find("; SHA-256 " + digest + "\n"), std::string::npos) << right.out;
    // Refused before any port is opened: the missing one is never tried.
    const std::string other(64, '0');
    const ProcessResult wrong = runProcess(updateArgs("/nonexistent/ttyUSB9", false), environment());
    const ProcessResult refused = runProcess({KT5CUFIRM_PATH, "--device", "/nonexistent/ttyUSB9", "--image",
                                              imageFile.string(), "--expect-sha256", other, "--yes"}, environment());
    EXPECT_NE(wrong.all.find("Opening"), std::string::npos);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_NE(refused.err.find("kt5cufirm: the image " + imageFile.string() + " is refused: its SHA-256 is " + digest +
                               ", not " + other + " as expected\n"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(lastLine(refused.err), "kt5cufirm: the device was not changed.");
}

} // namespace
