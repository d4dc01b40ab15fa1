// SHA-256 of a block of bytes, so that an image can be named by its digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

using Sha256Digest = std::array<uint8_t, 32>;

Sha256Digest sha256(const uint8_t* data, size_t size);
// The digest as 64 lowercase hex digits.
std::string sha256Hex(const uint8_t* data, size_t size);
