// The XPort's true setup, kept on disk from before the switch until a restore
// has been read back right, so that a run killed in between loses nothing:
// one small file per address in the user's state folder.
#pragma once

#include <string>

struct XportSetupKeeper;

enum class KeptSetupState { None, Kept, Unreadable, NoFolder };

// Looks for a record kept for `address`, for this run's keeper (which keeps
// each run's record under the run's ipText). The folder and file are named
// in keptSetupPath(address). Runs side by side each have their own address.
KeptSetupState prepareKeptSetup(const std::string& address);
// The XPort's setup keeper that writes and removes the record, for a
// network run's hooks.
const XportSetupKeeper* keptSetupKeeper();
std::string keptSetupPath(const std::string& address);
std::string keptSetupFolder(const std::string& address);
// Byte 21 of the kept record (when Kept).
unsigned keptSetupByte(const std::string& address);
// Whether a record is still kept: the XPort may not hold its true setup.
bool keptSetupRemains(const std::string& address);
