#include "console_view.h"

#include <algorithm>
#include <cmath>

#include "console_texts.h"

ConsoleView::ConsoleView(const ConsoleOptions& options, std::FILE* out, std::FILE* err,
                         std::function<std::string()> readAnswer)
    : options_(options), out_(out), err_(err), readAnswer_(std::move(readAnswer))
{
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

void ConsoleView::line(std::FILE* stream, const std::string& text)
{
    clearProgress();
    std::fprintf(stream, "%s%s\n", options_.linePrefix.c_str(), withoutLineEnd(text).c_str());
    std::fflush(stream);
}

void ConsoleView::clearProgress()
{
    if (!progressShown_)
        return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    progressShown_ = false;
}

void ConsoleView::showStatusText(const std::string& text)
{
    line(out_, text);
}

void ConsoleView::showDeviceVersion(const std::string& text)
{
    line(out_, text);
}

void ConsoleView::showImageVersion(const std::string& text)
{
    line(out_, "-> " + text);
}

bool ConsoleView::askConfirmation(const std::string& question)
{
    clearProgress();
    std::string text = options_.linePrefix + question;
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.replace(at, 2, "\n" + options_.linePrefix);
    if (options_.assumeYes) {
        std::fprintf(out_, "%s y\n", text.c_str());
        std::fflush(out_);
        return true;
    }
    if (!options_.interactive) {
        // Nobody to ask: the answer is No and nothing is erased.
        std::fprintf(out_, "%s n\n", text.c_str());
        std::fflush(out_);
        return false;
    }
    std::fprintf(out_, "%s [y/N] ", text.c_str());
    std::fflush(out_);
    const std::string answer = readAnswer_();
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void ConsoleView::showErrorBox(const std::string& caption, const std::string& message)
{
    std::fflush(out_);
    line(err_, caption + ": " + message);
}

void ConsoleView::enableControls(bool)
{
    // A console has no controls to grey out: the run owns it until it ends.
}

void ConsoleView::setProgressRange(uint32_t maximum)
{
    maximum_ = maximum;
    position_ = 0;
    started_ = std::chrono::steady_clock::now();
    lastDrawn_ = {};
}

void ConsoleView::stepProgress(uint32_t step)
{
    position_ += step;
    if (!options_.progressBar)
        return;
    const auto now = std::chrono::steady_clock::now();
    const bool last = position_ + 6 >= maximum_;  // a whole image ends the bar 6 short of its maximum
    if (!last && now - lastDrawn_ < std::chrono::milliseconds(100))
        return;
    lastDrawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    std::fprintf(out_, "\r%s\033[K", progressLine(position_, maximum_, seconds, 30).c_str());
    std::fflush(out_);
    progressShown_ = true;
}

void ConsoleView::showFinalText(const std::string& text, bool succeeded)
{
    if (!options_.xportRepair)
        line(out_, text);
    else
        line(out_, consoleText(succeeded ? ConsoleText::RepairSucceeded : ConsoleText::RepairFailed));
}

void ConsoleView::resetProgress()
{
    position_ = 0;
    clearProgress();
}

std::string ConsoleView::progressLine(uint32_t position, uint32_t maximum, double seconds, int width)
{
    const double fraction = maximum == 0 ? 0.0 : std::min(1.0, double(position) / double(maximum));
    const int filled = static_cast<int>(fraction * width);
    std::string bar = "[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(width - filled), ' ') + "]";
    const double rate = seconds > 0 ? position / seconds : 0.0;
    char text[160];
    int length = std::snprintf(text, sizeof text, "%s %3d%%  %u/%u bytes", bar.c_str(),
                               static_cast<int>(fraction * 100), position, maximum);
    std::string result(text, static_cast<size_t>(std::max(0, length)));
    if (rate > 0) {
        const double left = (maximum > position ? maximum - position : 0) / rate;
        std::snprintf(text, sizeof text, "  %.1f KiB/s  %d:%02d left", rate / 1024.0,
                      static_cast<int>(left) / 60, static_cast<int>(left) % 60);
        result += text;
    }
    return result;
}
