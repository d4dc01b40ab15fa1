// kt58mkimage: writes a sample firmware image in the format of kt58netcu.hex:
// the version line, Intel HEX data records of deterministic bytes (with an
// extended linear address record at each 64 KiB boundary) and the
// end-of-file record, every line ended by CR LF. With --bin it also writes the
// data bytes themselves, as a device holding the image would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hex_record.h"

namespace {

constexpr const char* kUsage =
    "Usage: kt58mkimage [--major N] [--minor N] [--size BYTES] [--record BYTES] [--seed N] [--out FILE] [--bin FILE]\n"
    "Defaults: version 1.02, 32768 bytes in records of 32, seed 1, standard output.\n";

bool number(const char* text, long lowest, long highest, long* value)
{
    char* end = nullptr;
    *value = std::strtol(text, &end, 0);
    return end != text && *end == '\0' && *value >= lowest && *value <= highest;
}

// Writes `size` bytes to `path`, or to standard output when it is null.
bool writeFile(const char* path, const char* data, size_t size)
{
    std::FILE* file = path ? std::fopen(path, "wb") : stdout;
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if ((path && std::fclose(file) != 0) || !written) {
        std::fprintf(stderr, "kt58mkimage: could not write %s\n", path ? path : "the image");
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    long major = 1, minor = 2, size = 32768, recordSize = 32, seed = 1;
    const char* out = nullptr;
    const char* bin = nullptr;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        const char* value = argv[++i];
        bool ok = arg == "--major"    ? number(value, 0, 255, &major)
                  : arg == "--minor"  ? number(value, 0, 255, &minor)
                  : arg == "--size"   ? number(value, 0, 16L << 20, &size)
                  : arg == "--record" ? number(value, 1, 255, &recordSize)
                  : arg == "--seed"   ? number(value, 0, 0x7FFFFFFF, &seed)
                  : arg == "--out"    ? (out = value, true)
                  : arg == "--bin"    ? (bin = value, true)
                                      : false;
        if (!ok) {
            std::fprintf(stderr, "kt58mkimage: bad option %s %s\n%s", argv[i - 1], value, kUsage);
            return 2;
        }
    }

    // Deterministic bytes, the same for the same seed.
    std::vector<uint8_t> memory(static_cast<size_t>(size));
    uint32_t state = static_cast<uint32_t>(seed);
    for (uint8_t& byte : memory) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    const std::string image = imageOfData(static_cast<uint8_t>(major), static_cast<uint8_t>(minor), memory,
                                          static_cast<size_t>(recordSize));

    if (!writeFile(out, image.data(), image.size()) ||
        (bin != nullptr && !writeFile(bin, reinterpret_cast<const char*>(memory.data()), memory.size())))
        return 1;
    return 0;
}
