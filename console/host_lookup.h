// A unit's host name turned into its IPv4 address, once, before anything is sent.
#pragma once

#include <string>

// The first IPv4 address of `name` as dotted text in *dotted; false with the
// resolver's reason in *error. Needs the socket library started (Windows).
bool lookUpIpv4(const std::string& name, std::string* dotted, std::string* error);
