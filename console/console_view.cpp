#include "console_view.h"

#include <algorithm>

#include "cancel.h"
#include "console_messages.h"
#include "fleet_board.h"
#include "output_gate.h"
#include "port_hint.h"
#include "unit_log.h"
#include "port_list.h"
#include "terminal.h"
#include "text_encoding.h"
#include "udp_channel.h"

ConsoleView::ConsoleView(const ConsoleOptions& options, std::FILE* out, std::FILE* err,
                         std::function<std::string()> readAnswer, const UpdateContext* run)
    : options_(options), out_(out), err_(err), readAnswer_(std::move(readAnswer)), run_(run)
{
}

ConsoleView::~ConsoleView()
{
    stopCountdown();
}

// A detail (": object: reason") without its leading separator.
static std::string withoutDetailColon(const std::string& detail)
{
    return detail.compare(0, 2, ": ") == 0 ? detail.substr(2) : detail;
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void ConsoleView::put(std::FILE* stream, const std::string& text)
{
    writeThroughGate(stream, text, writeConsoleText);
}

void ConsoleView::line(std::FILE* stream, const std::string& text, bool result)
{
    if (options_.log != nullptr)
        options_.log->write(withoutLineEnd(text));
    if (options_.board != nullptr && stream == out_ && !result) {
        options_.board->phase(options_.boardRow, withoutLineEnd(text));
        return;
    }
    stopCountdown();
    std::lock_guard<std::mutex> lock(mutex_);
    endProgressLocked();
    put(stream, prefixed(withoutLineEnd(text)) + "\n");
}

std::string ConsoleView::prefixed(const std::string& text) const
{
    if (options_.linePrefix.empty())
        return text;
    std::string result = options_.linePrefix + text;
    for (size_t at = result.find('\n'); at != std::string::npos && at + 1 < result.size();
         at = result.find('\n', at + 1 + options_.linePrefix.size()))
        result.insert(at + 1, options_.linePrefix);
    return result;
}

void ConsoleView::endProgressLocked()
{
    if (progressShown_) {
        // The bar's last state stays on screen; a countdown goes.
        put(err_, barShown_ ? "\n" : "\r\033[K");
        progressShown_ = false;
        barShown_ = false;
    }
    if (!options_.progressBar && !options_.quiet && position_ > reported_)
        plainProgressLocked();
}

void ConsoleView::plainProgressLocked()
{
    const uint32_t percent = maximum_ == 0 ? 0 : static_cast<uint32_t>(uint64_t{position_} * 100 / maximum_);
    put(err_, prefixed(consoleMessage(TextWritten, {std::to_string(percent), std::to_string(position_),
                                                    std::to_string(maximum_)})) +
                  "\n");
    reported_ = position_;
}

void ConsoleView::showStatusText(const std::string& text)
{
    if (!options_.quiet)
        line(out_, text);
}

void ConsoleView::showDeviceVersion(const std::string& text)
{
    deviceVersion_ = text;
    if (!options_.quiet)
        line(out_, consoleMessage(TextSayDeviceVersion, {text}));
}

void ConsoleView::showImageVersion(const std::string& text)
{
    imageVersion_ = text;
    if (!options_.quiet)
        line(out_, consoleMessage(TextSayImageVersion, {text}));
}

void ConsoleView::showStatusOf(const UpdateContext& ctx)
{
    // The switch is said to be done only once the XPort acknowledged it.
    if (ctx.statusCode != StXportChanging && ctx.method == Network && ctx.run.facts.xportSwitched != 0 &&
        !switchSaid_) {
        switchSaid_ = true;
        showStatusText(consoleMessage(TextSaySwitched));
    }
    // No link, nothing to release or leave.
    if (ctx.statusCode == StQuitting && ctx.linkOpen == 0)
        return;
    showStatusText(statusWords(ctx, unitName(ctx, options_.address)));
}

void ConsoleView::showResultOf(const UpdateContext& ctx)
{
    showStatusText(consoleMessage(ctx.succeeded != 0 ? TextSayWritten : TextSayNotWritten));
    if (ctx.succeeded != 0 && ctx.run.facts.record > 0) {
        const auto writing = std::chrono::steady_clock::now() - started_;
        showStatusText(summaryWords(ctx, std::chrono::duration<double>(writing).count()));
    }
}

bool ConsoleView::askConfirmationOf(const UpdateContext& ctx)
{
    const std::string model = ctx.method == Network ? "KT-58NET" : "KT-58CU";
    const std::string unit = ctx.method == Network ? options_.address : chosenPortName(ctx);
    const bool yes = askConfirmation(consoleMessage(
        TextSayQuestion, {model, unit,
                          versionText(ctx.deviceVersion[kDeviceVersionMajor], ctx.deviceVersion[kDeviceVersionMinor]),
                          versionText(ctx.imageMajor, ctx.imageMinor)}));
    declined_ = !yes;
    return yes;
}

bool ConsoleView::askConfirmation(const std::string& question)
{
    std::string text = question;
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, "\n");
    if (options_.assumeYes || !options_.interactive) {
        // Without a terminal nobody can be asked: the answer is No and nothing is erased.
        if (!options_.quiet)
            line(out_, text + (options_.assumeYes ? " y" : " n"));
        return options_.assumeYes;
    }
    stopCountdown();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endProgressLocked();
        // Standard output may be a file: the question goes where it is answered.
        std::fflush(out_);
        put(options_.askOn != nullptr ? options_.askOn : out_, prefixed(text) + " [y/N] ");
    }
    const std::string answer = readAnswer_();
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void ConsoleView::sayOnError(const std::string& text)
{
    std::fflush(out_);
    line(err_, text);
}

void ConsoleView::showErrorBox(const std::string& caption, const std::string& message)
{
    errorShown_ = true;
    std::fflush(out_);
    line(err_, caption + ": " + withoutLineEnd(message));
}

void ConsoleView::showErrorFor(const std::string&, const std::string&, const UpdateContext& ctx, int number)
{
    errorShown_ = true;
    // A connect that an interrupt cut short was stopped by the user.
    const bool stopped = ctx.errorCode == ErrConnect && cancelRequested();
    const std::string cause =
        stopped ? consoleMessage(TextCauseStopped) : causeWords(ctx, options_.address, options_.image);
    std::string text = failureWords(ctx.errorCode) + errorDetail(ctx, number);
    if (!cause.empty())
        text += ": " + cause;
    // The state line names the first failure: what followed it came of it.
    const bool linkFailed = ctx.errorCode == ErrConnect || ctx.errorCode == ErrLinkOpen;
    if (cause_.empty())
        cause_ = !cause.empty() ? cause : linkFailed ? withoutDetailColon(errorDetail(ctx, number)) : std::string();
    sayOnError(consoleMessage(TextSayError, {text}));
    // A serial port that would not open: what to do about it.
    if (ctx.errorCode == ErrLinkOpen && ctx.method == Serial && number != 0) {
        const std::string hint = portOpenHint(chosenPortName(ctx), number);
        if (!hint.empty())
            sayOnError(hint);
    }
}

std::string ConsoleView::errorDetail(const UpdateContext& ctx, int number) const
{
    const bool network = ctx.method == Network || ctx.xportRepair != 0;
    const std::string device =
        network ? options_.address + ":" + std::to_string(ctx.tcpPort) : chosenPortName(ctx);
    const std::string reason = number != 0 ? ": " + systemErrorText(number) : std::string();
    switch (ctx.errorCode) {
    case ErrConnect:
    case ErrSend:
    case ErrLinkOpen:
        return ": " + device + reason;
    case ErrWrite:
    case ErrUpdateMode:
        return ": " + device;
    case ErrSocketCreate:
    case ErrUdpSocketCreate:
        return reason;
    case ErrUdpBind:
        return ": local UDP port " + std::to_string(kUdpLocalPort) + reason;
    case ErrUdpSend:
        return ": " + options_.address + ":" + std::to_string(kXportConfigPort) + reason;
    case ErrXportChange:
    case ErrXportRestore:
        return ": " + options_.address;
    case ErrImageRead:
    case ErrImageFormat:
        return ctx.imagePath[0] != '\0' ? ": " + std::string(ctx.imagePath) : std::string();
    default:
        return {};
    }
}

void ConsoleView::enableControls(bool enable)
{
    // A console has no controls to grey out: the run owns it until it ends.
    // As the run begins, its header: the program, the target, the image.
    if (!enable && run_ != nullptr && !options_.quiet && !options_.image.sha256.empty())
        line(out_, headerWords(targetWords(*run_, options_.address), run_->imagePath, options_.image));
}

void ConsoleView::setProgressRange(uint32_t maximum)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // The console counts the image's data bytes, where it knows them.
    maximum_ = run_ != nullptr && options_.image.dataBytes > 0 ? static_cast<uint32_t>(options_.image.dataBytes)
                                                               : maximum;
    position_ = 0;
    reported_ = 0;
    reportedTenths_ = 0;
    loggedTenths_ = 0;
    started_ = std::chrono::steady_clock::now();
    lastDrawn_ = {};
    if (options_.board != nullptr)
        options_.board->progress(options_.boardRow, 0, maximum);
}

void ConsoleView::stepProgress(uint32_t step)
{
    std::lock_guard<std::mutex> lock(mutex_);
    position_ = run_ != nullptr && options_.image.dataBytes > 0 ? run_->run.facts.dataBytes : position_ + step;
    if (maximum_ == 0)
        return;
    logProgressLocked();
    if (options_.quiet)
        return;
    if (options_.board != nullptr) {
        options_.board->progress(options_.boardRow, position_, maximum_);
        return;
    }
    if (!options_.progressBar) {
        const int tenths = static_cast<int>(uint64_t{position_} * 10 / maximum_);
        if (tenths > reportedTenths_) {
            reportedTenths_ = tenths;
            plainProgressLocked();
        }
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    const bool last = position_ >= maximum_;
    if (!last && now - lastDrawn_ < std::chrono::milliseconds(100))
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const int columns = std::max(20, terminalColumns(err_));
    put(err_, "\r" + progressLine(position_, maximum_, seconds, columns) + "\033[K");
    progressShown_ = true;
    barShown_ = true;
}

void ConsoleView::showFinalText(const std::string&, bool succeeded)
{
    if (run_ != nullptr && run_->leftAlone != 0) {
        if (!options_.quiet)
            line(out_,
                 consoleMessage(TextFleetLeftAlone, {versionText(run_->deviceVersion[kDeviceVersionMajor],
                                                                 run_->deviceVersion[kDeviceVersionMinor]),
                                                     versionText(run_->imageMajor, run_->imageMinor)}),
                 true);
        return;
    }
    line(out_, finalWords(succeeded), true);
}

// The run's last line: what became of it.
std::string ConsoleView::finalWords(bool succeeded) const
{
    if (options_.xportRepair)
        return consoleMessage(succeeded ? TextRepairSucceeded : TextRepairFailed);
    if (options_.check)
        return checkDone() ? consoleMessage(TextCheckDone, {deviceVersion_, imageVersion_})
                           : consoleMessage(TextCheckFailed);
    if (succeeded)
        return consoleMessage(TextSayComplete);
    if (declined_ && !errorShown_)
        return consoleMessage(TextSayDeclined);
    return consoleMessage(TextSayNotComplete);
}

void ConsoleView::resetProgress()
{
    stopCountdown();
    std::lock_guard<std::mutex> lock(mutex_);
    endProgressLocked();
    position_ = 0;
    reported_ = 0;
}

void ConsoleView::progressHook(void* view, uint32_t bytes)
{
    static_cast<ConsoleView*>(view)->stepProgress(bytes);
}

void ConsoleView::settleHook(void* view, int milliseconds)
{
    static_cast<ConsoleView*>(view)->showSettling(milliseconds);
}

void ConsoleView::logProgressLocked()
{
    const int tenths = static_cast<int>(uint64_t{position_} * 10 / maximum_);
    if (options_.log == nullptr || tenths <= loggedTenths_)
        return;
    loggedTenths_ = tenths;
    const uint32_t percent = static_cast<uint32_t>(uint64_t{position_} * 100 / maximum_);
    options_.log->write(consoleMessage(TextWritten, {std::to_string(percent), std::to_string(position_),
                                                     std::to_string(maximum_)}));
}

void ConsoleView::showSettling(int milliseconds)
{
    if (options_.log != nullptr)
        options_.log->write(consoleMessage(TextSettling, {std::to_string((milliseconds + 999) / 1000)}));
    if (options_.quiet)
        return;
    if (options_.board != nullptr) {
        options_.board->settling(options_.boardRow, milliseconds);
        return;
    }
    stopCountdown();
    const int seconds = (milliseconds + 999) / 1000;
    std::lock_guard<std::mutex> lock(mutex_);
    endProgressLocked();
    if (!options_.progressBar) {
        put(err_, prefixed(consoleMessage(TextSettling, {std::to_string(seconds)})) + "\n");
        return;
    }
    countdownStop_ = false;
    countdown_ = std::thread([this, milliseconds] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::unique_lock<std::mutex> held(mutex_);
        while (!countdownStop_) {
            const auto left = end - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                break;
            const auto secondsLeft = std::chrono::duration_cast<std::chrono::seconds>(left).count() + 1;
            put(err_, "\r" + consoleMessage(TextSettling, {std::to_string(secondsLeft)}) + "\033[K");
            progressShown_ = true;
            const auto tick = std::min<std::chrono::steady_clock::duration>(left, std::chrono::seconds(1));
            countdownWake_.wait_for(held, tick, [this] { return countdownStop_; });
        }
    });
}

void ConsoleView::stopCountdown()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        countdownStop_ = true;
    }
    countdownWake_.notify_all();
    if (countdown_.joinable() && countdown_.get_id() != std::this_thread::get_id())
        countdown_.join();
}

std::string ConsoleView::progressLine(uint32_t position, uint32_t maximum, double seconds, int columns)
{
    const double fraction = maximum == 0 ? 0.0 : std::min(1.0, double(position) / double(maximum));
    char text[160];
    std::snprintf(text, sizeof text, " %3d%%  ", static_cast<int>(fraction * 100));
    const std::string counts =
        text + consoleMessage(TextBarBytes, {std::to_string(position), std::to_string(maximum)});
    std::string timing;
    const double rate = seconds > 0 ? position / seconds : 0.0;
    if (rate > 0) {
        const double left = (maximum > position ? maximum - position : 0) / rate;
        char kib[32], time[32];
        std::snprintf(kib, sizeof kib, "%.1f", rate / 1024.0);
        std::snprintf(time, sizeof time, "%d:%02d", static_cast<int>(left) / 60, static_cast<int>(left) % 60);
        timing = "  " + consoleMessage(TextBarTiming, {kib, time});
    }
    // One column is left free, so that the terminal never wraps the line.
    const int room = columns - 1;
    constexpr int kNarrowestBar = 10;
    if (static_cast<int>(counts.size() + timing.size()) + kNarrowestBar + 2 > room)
        timing.clear();
    const int width = room - static_cast<int>(counts.size() + timing.size()) - 2;
    if (width < kNarrowestBar)
        return counts.substr(1, static_cast<size_t>(std::max(0, room)));
    const int filled = static_cast<int>(fraction * width);
    return "[" + std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), ' ') +
           "]" + counts + timing;
}
