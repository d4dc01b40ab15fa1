#include "kept_setup.h"

#include <cstring>

#include "sockets.h"
#include "xport_setup.h"

namespace {

// A record's size: a longer file reads as one byte more.
constexpr size_t kReadLimit = static_cast<size_t>(kSetupRecordSize);

} // namespace

std::string keptSetupAddress(const char* ipText)
{
    // The address field holds at most kIpTextSize bytes and may be shorter.
    char text[kIpTextSize + 1] = {};
    std::memcpy(text, ipText, strnlen(ipText, kIpTextSize));
    const uint32_t address = addressFromText(text);  // network order: the first byte is the first number
    uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]);
}

KeptSetup::KeptSetup(bool restoreFailedSwitch) : restoreFailedSwitch_(restoreFailedSwitch) {}

KeptSetupFound KeptSetup::open(const char* ipText)
{
    close();
    kept_.clear();
    reason_.clear();
    holder_ = 0;
    address_ = keptSetupAddress(ipText);
    folder_ = stateFolder();
    path_.clear();
    if (folder_.empty()) {
        reason_ = "no state folder: neither XDG_STATE_HOME nor HOME is set";
        return KeptSetupFound::NoPlace;
    }
    if (!makeStateFolder(folder_, &reason_))
        return KeptSetupFound::NoPlace;
    const std::string lockPath = statePath(folder_, "xport-" + address_ + ".lock");
    path_ = statePath(folder_, "xport-" + address_ + ".setup");
    const StateLock::Result locked = lock_.take(lockPath, &holder_, &reason_);
    if (locked == StateLock::Busy) {
        path_ = lockPath;
        return KeptSetupFound::Locked;
    }
    if (locked == StateLock::Failed)
        return lockFailed(lockPath);
    const KeptSetupFound found = readRecord();
    if (found == KeptSetupFound::Unreadable)
        close();
    return found;
}

// Without the lock, a record there (one left by a run of another user, say)
// still means the XPort may hold the switched setup.
KeptSetupFound KeptSetup::lockFailed(const std::string& lockPath)
{
    const std::string why = reason_;
    std::vector<uint8_t> record;
    if (readStateFile(path_, kReadLimit, &record, &reason_) == StateRead::Missing) {
        path_ = lockPath;
        reason_ = why;
        return KeptSetupFound::NoPlace;
    }
    if (reason_.empty())
        reason_ = "its lock " + lockPath + " cannot be taken: " + why;
    return KeptSetupFound::Unreadable;
}

KeptSetupFound KeptSetup::readRecord()
{
    std::vector<uint8_t> record;
    switch (readStateFile(path_, kReadLimit, &record, &reason_)) {
    case StateRead::Missing:
        return KeptSetupFound::None;
    case StateRead::Failed:
        return KeptSetupFound::Unreadable;
    case StateRead::Read:
        break;
    }
    if (record.size() != static_cast<size_t>(kSetupRecordSize)) {
        reason_ = record.size() > kReadLimit ? "it is longer than " + std::to_string(kSetupRecordSize) + " bytes"
                                             : "it holds " + std::to_string(record.size()) + " bytes, not " +
                                                   std::to_string(kSetupRecordSize);
        return KeptSetupFound::Unreadable;
    }
    kept_ = std::move(record);
    return KeptSetupFound::Kept;
}

const XportSetupKeeper* KeptSetup::keeper() const
{
    static const XportSetupKeeper restoring{keep, forget, 1};
    static const XportSetupKeeper leaving{keep, forget, 0};
    return restoreFailedSwitch_ ? &restoring : &leaving;
}

void KeptSetup::setNotice(KeptSetupNotice notice, void* context)
{
    notice_ = notice;
    noticeContext_ = context;
}

unsigned KeptSetup::keptByte() const
{
    return remains() ? kept_[kSwitchedByte] : 0u;
}

void KeptSetup::note(KeptSetupNote what, const std::string& where, const std::string& why)
{
    if (notice_ != nullptr)
        notice_(noticeContext_, what, where, why);
}

int KeptSetup::keep(void* context, const uint8_t* setup, uint8_t* originalByte)
{
    KeptSetup& self = *static_cast<KeptSetup*>(context);
    if (self.remains()) {
        // The record of an interrupted run holds the true byte: it stays as it is.
        *originalByte = self.kept_[kSwitchedByte];
        return 1;
    }
    std::string error;
    if (!self.lock_.held())
        error = "the address's lock is not held";
    else
        createFileAtomically(self.path_, setup, kSetupRecordSize, &error);
    if (!error.empty()) {
        self.note(KeptSetupNote::KeepFailed, self.path_.empty() ? self.folder_ : self.path_, error);
        return 0;
    }
    self.kept_.assign(setup, setup + kSetupRecordSize);
    *originalByte = setup[kSwitchedByte];
    if (setup[kSwitchedByte] == kSwitchedValue)
        self.note(KeptSetupNote::AlreadySwitched, self.address_, std::to_string(kSwitchedValue));
    return 1;
}

void KeptSetup::forget(void* context)
{
    KeptSetup& self = *static_cast<KeptSetup*>(context);
    // Only a record this run read or wrote, and only while it holds the lock.
    if (self.remains() && self.lock_.held())
        removeFile(self.path_);
    self.kept_.clear();
}
