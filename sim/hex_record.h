// Intel HEX records as the image file holds them, for the tools that make
// images (kt58mkimage, the benchmark and the tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One record from ":" to its checksum, without a line end.
std::string hexRecord(uint16_t address, uint8_t type, const std::vector<uint8_t>& data);

// A whole image holding `data` from address 0: the version line "V" + minor +
// major, data records of `perRecord` bytes (an extended linear address record
// at each 64 KiB step), then the end-of-file record; CR LF after every line.
std::string imageOfData(uint8_t major, uint8_t minor, const std::vector<uint8_t>& data, size_t perRecord);
