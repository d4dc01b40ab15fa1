// The console's window: status lines, versions and results on standard
// output, error messages on standard error, the question on the terminal and
// a progress bar redrawn in place.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "command_view.h"

struct ConsoleOptions {
    bool assumeYes = false;      // --yes
    bool interactive = false;    // standard input is a terminal
    bool progressBar = false;    // standard output is a terminal
    bool xportRepair = false;    // --restore-xport: the final line speaks of the XPort
    std::string linePrefix;      // before every line (a unit of a fleet: its address)
};

class ConsoleView : public CommandView {
public:
    ConsoleView(const ConsoleOptions& options, std::FILE* out, std::FILE* err, std::function<std::string()> readAnswer);

    void showStatusText(const std::string& text) override;
    void showDeviceVersion(const std::string& text) override;
    void showImageVersion(const std::string& text) override;
    bool askConfirmation(const std::string& question) override;
    void showErrorBox(const std::string& caption, const std::string& message) override;
    void enableControls(bool enable) override;
    void setProgressRange(uint32_t maximum) override;
    void stepProgress(uint32_t step) override;
    void resetProgress() override;
    void showFinalText(const std::string& text, bool succeeded) override;

    // The progress line as drawn: bar, percent, bytes, rate and time left.
    static std::string progressLine(uint32_t position, uint32_t maximum, double seconds, int width);

private:
    void line(std::FILE* stream, const std::string& text);
    void clearProgress();

    ConsoleOptions options_;
    std::FILE* out_;
    std::FILE* err_;
    std::function<std::string()> readAnswer_;
    uint32_t maximum_ = 0;
    uint32_t position_ = 0;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastDrawn_;
};

// Text without its trailing line end, as one console line.
std::string withoutLineEnd(std::string text);
