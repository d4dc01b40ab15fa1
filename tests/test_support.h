// Helpers shared by the tests: a view that records what the window was told,
// image files built record by record, and scratch files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "command_view.h"
#include "hex_record.h"

// Records every call as one line, e.g. "status:Connectinng...\r\n",
// "error:Error|Connect failure. (code=111)", "confirm:...", "progress-step:45";
// `position` is where the bar stands.
class RecordingView : public CommandView {
public:
    bool answerYes = true;
    uint32_t position = 0;

    void showStatusText(const std::string& text) override { add("status:" + text); }
    void showDeviceVersion(const std::string& text) override { add("device-version:" + text); }
    void showImageVersion(const std::string& text) override { add("image-version:" + text); }
    bool askConfirmation(const std::string& question) override
    {
        add("confirm:" + question);
        return answerYes;
    }
    void showErrorBox(const std::string& caption, const std::string& message) override
    {
        add("error:" + caption + "|" + message);
    }
    void enableControls(bool enable) override { add(enable ? "enable" : "disable"); }
    void setProgressRange(uint32_t maximum) override
    {
        add("progress-range:" + std::to_string(maximum));
        position = 0;
    }
    void stepProgress(uint32_t step) override
    {
        add("progress-step:" + std::to_string(step));
        position += step;
    }
    void resetProgress() override
    {
        add("progress-reset");
        position = 0;
    }
    std::vector<std::string> events() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }

private:
    void add(std::string event)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

// hexRecord: one Intel HEX record line without its line end.
inline std::string endOfFileRecord() { return ":00000001FF"; }
// A whole image: "V" + minor + major digits, CR LF, then each record + CR LF.
std::string imageText(const std::string& versionDigits, const std::vector<std::string>& records);
// A well-formed image of `records` data records of `bytesPerRecord` bytes each.
std::string sampleImage(const std::string& versionDigits, int records, int bytesPerRecord);
// The data bytes an image's records carry, placed by address (from 0).
std::vector<uint8_t> imageMemory(const std::string& image);

// One JSON object of plain values (null, true or false, a number, a string),
// as the reports write one a line, parsed so that tests compare what it says
// rather than how it is spelled; nothing when the text is not such an object.
using JsonValue = std::variant<std::nullptr_t, bool, double, std::string>;
using JsonObject = std::map<std::string, JsonValue>;
std::optional<JsonObject> parseJsonObject(const std::string& text);

// A fresh directory under the system's temporary directory, removed with it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};
