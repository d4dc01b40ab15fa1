// Host addresses as typed (a dotted IPv4 address or a host name), their
// resolution to one IPv4 address, and the whole numbers ports are given in.
#pragma once

#include <optional>
#include <string>

// A whole decimal number from `lowest` to `highest`, digits only (at most 9).
std::optional<int> parseNumber(const std::string& text, int lowest, int highest);

// Whether `text` is four decimal numbers 0-255 joined by dots, without
// leading zeros; `why` (when not null) says what is wrong otherwise.
bool isDottedIpv4(const std::string& text, std::string* why = nullptr);
// Whether `text` is meant as a dotted address (and must be one): digits and
// dots only, or a last label that starts with a digit, as no top-level label
// does ("10.0.0.0x1", "0x7f000001"; a resolver would read these as numbers).
bool looksLikeDottedAddress(const std::string& text);
// Whether `text` is a host name as DNS writes one: labels of letters, digits
// and hyphens, 1 to 63 characters, not starting or ending with a hyphen,
// 253 characters at most, and not meant as a dotted address.
bool isHostName(const std::string& text);
// What is wrong with `text` as --ip's value; empty when it is an address or a name.
std::string addressProblem(const std::string& text);

// `name` (a dotted address or a host name) resolved to one IPv4 address in
// dotted form; false with *why saying what failed. Platform code.
bool resolveIpv4(const std::string& name, std::string* dotted, std::string* why);
// An address as the user named it: "10.0.0.7", or "unit-7 (10.0.0.7)".
std::string addressAsNamed(const std::string& name, const std::string& dotted);
