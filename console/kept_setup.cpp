#include "kept_setup.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "console_messages.h"
#include "state_files.h"
#include "xport_setup.h"

namespace {

// One address's record, as its run found and keeps it.
struct Kept {
    std::string folder;
    std::string path;
    std::optional<std::vector<uint8_t>> kept;
};

// Runs side by side keep their records each under its own address.
std::mutex keptLock;
std::map<std::string, Kept> records;

Kept& recordOf(const std::string& address)
{
    return records[address];
}

int keepSetup(const UpdateContext* ctx, const uint8_t* setup, uint8_t* originalByte)
{
    std::lock_guard<std::mutex> held(keptLock);
    auto& [folder, path, kept] = recordOf(ctx->ipText);
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
        sayLine(stderr, TextKeepFailed, {path.empty() ? folder : path, error});
        return 0;
    }
    kept = std::vector<uint8_t>(setup, setup + kSetupRecordSize);
    *originalByte = setup[kSwitchedByte];
    return 1;
}

void forgetSetup(const UpdateContext* ctx)
{
    std::lock_guard<std::mutex> held(keptLock);
    Kept& record = recordOf(ctx->ipText);
    removeFile(record.path);
    record.kept.reset();
}

const XportSetupKeeper keeper{keepSetup, forgetSetup, 1};

} // namespace

KeptSetupState prepareKeptSetup(const std::string& address)
{
    std::lock_guard<std::mutex> held(keptLock);
    auto& [folder, path, kept] = recordOf(address);
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

std::string keptSetupPath(const std::string& address)
{
    std::lock_guard<std::mutex> held(keptLock);
    return recordOf(address).path;
}

std::string keptSetupFolder(const std::string& address)
{
    std::lock_guard<std::mutex> held(keptLock);
    return recordOf(address).folder;
}

bool keptSetupRemains(const std::string& address)
{
    std::lock_guard<std::mutex> held(keptLock);
    return recordOf(address).kept.has_value();
}

unsigned keptSetupByte(const std::string& address)
{
    std::lock_guard<std::mutex> held(keptLock);
    const Kept& record = recordOf(address);
    return record.kept ? (*record.kept)[kSwitchedByte] : 0u;
}
