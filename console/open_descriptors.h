// A debugging aid (KT5CUFIRM_DEBUG_FDS): the descriptors a run leaves open.
#pragma once

#include <string>

// The open descriptors of this process, ascending, separated by spaces
// (POSIX, from /proc/self/fd); empty where they cannot be listed.
std::string openDescriptors();
