// The XPort's true setup, kept on disk from before the switch until a restore
// has been read back right, so that a run killed in between loses nothing:
// one small file per address in the user's state folder.
#pragma once

#include <string>

struct XportSetupKeeper;

enum class KeptSetupState { None, Kept, Unreadable, NoFolder };

// Looks for a record kept for `address`, for this run's keeper. The folder
// and file are named in keptSetupPath().
KeptSetupState prepareKeptSetup(const std::string& address);
// The XPort's setup keeper that writes and removes the record, for a
// network run's hooks.
const XportSetupKeeper* keptSetupKeeper();
std::string keptSetupPath();
std::string keptSetupFolder();
// Byte 21 of the kept record (when Kept).
unsigned keptSetupByte();
// Whether a record is still kept: the XPort may not hold its true setup.
bool keptSetupRemains();
