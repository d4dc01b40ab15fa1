// The console's window: status lines, versions and results on standard
// output; error messages, progress and the XPort's settling countdown on
// standard error; the question on the terminal. Every text goes out in the
// terminal's character set.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "command_view.h"
#include "run_words.h"

class FleetBoard;
class UnitLog;

struct ConsoleOptions {
    bool assumeYes = false;      // --yes
    bool interactive = false;    // there is a terminal to ask on
    std::FILE* askOn = nullptr;  // the question's terminal; null: the view's standard output
    bool progressBar = false;    // standard error is a terminal: a bar redrawn in place
    bool quiet = false;          // --quiet: errors and the final line only
    bool verbose = false;        // --verbose: each step with its time (--quiet wins)
    bool check = false;          // --check with a device: the run declines without asking
    bool xportRepair = false;    // --restore-xport: the final line speaks of the XPort
    std::string address;         // the XPort's address as the user named it
    std::string linePrefix;      // before every line (a unit of a fleet: "[its address] ")
    // A unit of a fleet on a terminal: its phase and progress go to its row
    // of the board; only its errors and its result scroll above.
    FleetBoard* board = nullptr;
    int boardRow = -1;
    // A unit of a fleet with --log-dir: every line it shows, progress at
    // each tenth and the settling waits go to its log too.
    UnitLog* log = nullptr;
    ImageFacts image;            // the image as checked first
    std::string expectSha256;    // --expect-sha256: the digest the image must have; empty: any
};

class ConsoleView : public CommandView {
public:
    // `run`, when given, is the record of the run shown: a device it left
    // alone (--if-newer) gets a line that says so instead of the final line.
    ConsoleView(const ConsoleOptions& options, std::FILE* out, std::FILE* err, std::function<std::string()> readAnswer,
                const UpdateContext* run = nullptr);
    ~ConsoleView() override;

    void showStatusText(const std::string& text) override;
    void showDeviceVersion(const std::string& text) override;
    void showImageVersion(const std::string& text) override;
    bool askConfirmation(const std::string& question) override;
    void showStatusOf(const UpdateContext& ctx) override;
    void showResultOf(const UpdateContext& ctx) override;
    bool askConfirmationOf(const UpdateContext& ctx) override;
    void showErrorBox(const std::string& caption, const std::string& message) override;
    void showErrorFor(const std::string& caption, const std::string& message, const UpdateContext& ctx,
                      int number) override;
    void enableControls(bool enable) override;
    void setProgressRange(uint32_t maximum) override;
    void stepProgress(uint32_t step) override;
    void resetProgress() override;
    void showFinalText(const std::string& text, bool succeeded) override;

    // Any thread: the XPort settles for `milliseconds` (a countdown on a
    // terminal, one line elsewhere). For a run's hooks: settle = settleHook, settleContext = &view.
    void showSettling(int milliseconds);
    static void settleHook(void* view, int milliseconds);
    // Any thread: a progress step, for a run's hooks (progressStep = progressHook).
    static void progressHook(void* view, uint32_t bytes);

    // A line of the console's own on standard error, with the line prefix.
    void sayOnError(const std::string& text);

    // What the run showed: whether an error was, and the device's version
    // line ("Ver 1.00"; empty before the device was identified).
    bool errorShown() const { return errorShown_; }
    const std::string& deviceVersion() const { return deviceVersion_; }
    // A --check's device part done: both versions shown and no error.
    bool checkDone() const { return !errorShown_ && !deviceVersion_.empty() && !imageVersion_.empty(); }
    // Why the run's last failure happened, in the console's words; empty when unknown.
    const std::string& cause() const { return cause_; }
    // Whether the user answered No to the question.
    bool declined() const { return declined_; }

    // The progress line as drawn, fitted into `columns`: bar, percent, bytes,
    // rate and time left (the rate and time dropped where they do not fit).
    static std::string progressLine(uint32_t position, uint32_t maximum, double seconds, int columns);
    // What an error message adds for the console: the object (port, address,
    // file) and the system's reason for the error number.
    std::string errorDetail(const UpdateContext& ctx, int number) const;

private:
    // `result`: the run's final line, which scrolls above a fleet's board.
    void line(std::FILE* stream, const std::string& text, bool result = false);
    std::string finalWords(bool succeeded) const;
    // `text` with linePrefix before each of its lines.
    std::string prefixed(const std::string& text) const;
    void put(std::FILE* stream, const std::string& text);
    // Ends what stands on the progress line: the bar or countdown erased, a
    // plain progress line for the bytes not yet reported. Holds mutex_.
    void endProgressLocked();
    void stopCountdown();
    void plainProgressLocked();
    void logProgressLocked();

    ConsoleOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::function<std::string()> readAnswer_;
    const UpdateContext* run_;
    std::mutex mutex_;  // standard error and the progress state, shared with the countdown
    uint32_t maximum_ = 0;
    uint32_t position_ = 0;
    uint32_t reported_ = 0;      // plain lines: the position last reported
    int reportedTenths_ = 0;     // plain lines: the last tenth reported
    int loggedTenths_ = 0;       // the unit's log: the last tenth written
    bool progressShown_ = false; // something stands on the terminal's line
    bool barShown_ = false;      // ... and it is the bar, which stays
    bool errorShown_ = false;
    bool declined_ = false;
    bool switchSaid_ = false;    // the XPort's switch was reported done
    std::string cause_;
    std::string deviceVersion_, imageVersion_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
    std::thread countdown_;
    std::condition_variable countdownWake_;
    bool countdownStop_ = false;
};

// Text without its trailing line end, as one console line.
std::string withoutLineEnd(std::string text);
