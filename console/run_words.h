// The console's own words for what a run does and why a step failed, made
// from the run's record and what its exchanges met (RunFacts).
#pragma once

#include <cstdint>
#include <string>

#include "update_context.h"

// What the console knows of the image beside the record: for the causes,
// the header and the summary.
struct ImageFacts {
    int32_t records = 0;     // every record, the end-of-file record included
    int64_t dataBytes = 0;   // bytes carried by the data records
    std::string sha256;      // the file's digest, lowercase hex
    std::string version;     // "Ver 1.02"
};

// The unit a run speaks to: the serial port, or the address and TCP port.
std::string unitName(const UpdateContext& ctx, const std::string& address);
// The status line for ctx.statusCode.
std::string statusWords(const UpdateContext& ctx, const std::string& unit);
// What failed, for an error code.
std::string failureWords(int errorCode);
// Why it failed, from the run's facts; empty when nothing more is known.
std::string causeWords(const UpdateContext& ctx, const std::string& address, const ImageFacts& image);
// Bytes as the user reads them: 'EFL' when printable, else hex ("45 00 4C").
std::string bytesWords(const uint8_t* bytes, int length);

// The target as the header names it: the port, or the address and TCP port.
std::string targetWords(const UpdateContext& ctx, const std::string& address);
// The first line of a run: the program and its version, the target, the image.
std::string headerWords(const std::string& target, const std::string& imagePath, const ImageFacts& image);
// The line after a completed write: records and data bytes written, how
// long it took, the rate (on serial its share of the line) and the device's version.
std::string summaryWords(const UpdateContext& ctx, double seconds);
