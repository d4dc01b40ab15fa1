// The XPort's true setup, kept on disk from before the switch until a restore
// has been read back right, so that a run killed in between loses nothing:
// one small file per address in the user's state folder, and beside it the
// lock that keeps a second run off the same address. Both front ends keep
// it the same way; one object per run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run_hooks.h"
#include "state_files.h"

enum class KeptSetupFound {
    None,        // no record: the run keeps the setup it reads
    Kept,        // a record of an interrupted run: its byte 21 is put back
    Unreadable,  // a record that cannot be read or is not one: nothing may be sent
    Locked,      // another run works on the address: nothing may be sent
    NoPlace,     // no folder, or the lock cannot be made: nothing may be sent
};

// What the keeper says during the run, on the worker thread.
enum class KeptSetupNote {
    KeepFailed,       // the setup cannot be kept (where, why): the switch stops
    AlreadySwitched,  // byte 21 reads 8 already and no record is kept
};
using KeptSetupNotice = void (*)(void* context, KeptSetupNote note, const std::string& where,
                                 const std::string& why);

class KeptSetup {
public:
    // `restoreFailedSwitch`: a switch that failed once its put was out is
    // put back in the same run (the console); else the record stays for the
    // next run (the dialog's given behaviour).
    explicit KeptSetup(bool restoreFailedSwitch = true);

    // Takes the lock for the address the exchanges reach (`ipText` as they
    // take it) and reads a record kept there. Anything but None or Kept
    // leaves nothing to send; path(), reason() and holder() say why.
    KeptSetupFound open(const char* ipText);
    // Lets go of the address; the destructor does as well.
    void close() { lock_.release(); }

    // For the run's hooks: keeper = keeper(), keeperContext = this.
    const XportSetupKeeper* keeper() const;
    void setNotice(KeptSetupNotice notice, void* context);

    const std::string& address() const { return address_; }
    const std::string& folder() const { return folder_; }
    const std::string& path() const { return path_; }  // the record's path (the lock's on Locked)
    const std::string& reason() const { return reason_; }
    long holder() const { return holder_; }
    // Whether a record is kept: the XPort may not hold its true setup.
    bool remains() const { return !kept_.empty(); }
    unsigned keptByte() const;

private:
    static int keep(void* context, const uint8_t* setup, uint8_t* originalByte);
    static void forget(void* context);
    KeptSetupFound readRecord();
    KeptSetupFound lockFailed(const std::string& lockPath);
    void note(KeptSetupNote what, const std::string& where, const std::string& why);

    bool restoreFailedSwitch_;
    std::string address_, folder_, path_, reason_;
    long holder_ = 0;
    std::vector<uint8_t> kept_;
    StateLock lock_;
    KeptSetupNotice notice_ = nullptr;
    void* noticeContext_ = nullptr;
};

// The address as the record's name gives it: dotted, as the exchanges reach it.
std::string keptSetupAddress(const char* ipText);
