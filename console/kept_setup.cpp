#include "kept_setup.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>
#include <vector>

#include "console_platform.h"
#include "console_texts.h"
#include "xport_setup.h"

namespace {

std::string folder;
std::string path;
std::optional<std::vector<uint8_t>> kept;

int keepSetup(const UpdateContext*, const uint8_t* setup, uint8_t* originalByte)
{
    if (kept) {
        // The record of an interrupted run holds the true byte: it stays as it is.
        *originalByte = (*kept)[kSwitchedByte];
        return 1;
    }
    std::string error;
    if (path.empty()) {
        error = "no state folder: neither XDG_STATE_HOME nor HOME is set";
    } else {
        std::error_code made;
        std::filesystem::create_directories(std::filesystem::path(folder), made);
        if (made)
            error = made.message();
        else
            writeFileAtomically(path, setup, kSetupRecordSize, &error);
    }
    if (!error.empty()) {
        sayLine(stderr, ConsoleText::KeepFailed, {path.empty() ? folder : path, error});
        return 0;
    }
    kept = std::vector<uint8_t>(setup, setup + kSetupRecordSize);
    *originalByte = setup[kSwitchedByte];
    return 1;
}

void forgetSetup(const UpdateContext*)
{
    removeFile(path);
    kept.reset();
}

const XportSetupKeeper keeper{keepSetup, forgetSetup, 1};

} // namespace

KeptSetupState prepareKeptSetup(const std::string& address)
{
    kept.reset();
    folder = stateFolder();
    if (folder.empty()) {
        path.clear();
        return KeptSetupState::NoFolder;
    }
    path = (std::filesystem::path(folder) / ("xport-" + address + ".setup")).string();
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    if (!in)
        return KeptSetupState::None;
    std::vector<uint8_t> record{std::istreambuf_iterator<char>(in), {}};
    if (record.size() != static_cast<size_t>(kSetupRecordSize))
        return KeptSetupState::Unreadable;
    kept = std::move(record);
    return KeptSetupState::Kept;
}

const XportSetupKeeper* keptSetupKeeper()
{
    return &keeper;
}

std::string keptSetupPath()
{
    return path;
}

std::string keptSetupFolder()
{
    return folder;
}

bool keptSetupRemains()
{
    return kept.has_value();
}

unsigned keptSetupByte()
{
    return kept ? (*kept)[kSwitchedByte] : 0u;
}
