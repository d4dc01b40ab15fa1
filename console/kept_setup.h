// The XPort's true setup, kept on disk from before the switch until a restore
// has been read back right, so that a run killed in between loses nothing:
// one small file per address in the user's state folder.
#pragma once

#include <string>

enum class KeptSetupState { None, Kept, Unreadable, NoFolder };

struct XportSetupKeeper;

// Looks for a record kept for `address` and readies the XPort's setup keeper
// for this run. The folder and file are named in keptSetupPath().
KeptSetupState prepareKeptSetup(const std::string& address);
// The keeper a network run carries in its hooks.
const XportSetupKeeper* keptSetupKeeper();
std::string keptSetupPath();
std::string keptSetupFolder();
// Byte 21 of the kept record (when Kept).
unsigned keptSetupByte();
// Whether a record is still kept: the XPort may not hold its true setup.
bool keptSetupRemains();
