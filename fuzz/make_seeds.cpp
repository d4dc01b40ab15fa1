// kt_fuzz_seeds: the seed inputs of the protocol and XPort fuzz targets, made
// by asking the emulators: the device emulator's replies to a whole write of
// an image, and the XPort emulator's datagrams for a switch and a restore.
//   kt_fuzz_seeds protocol IMAGE OUTFILE   (also OUTFILE-correct: the same run
//                                          with every reply left to the fake device)
//   kt_fuzz_seeds xport OUTFILE            (also OUTFILE-correct)
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_emulator.h"
#include "image_file.h"
#include "xport_emulator.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A loopback socket of `type` aimed at `port`; -1 on failure.
int connectedSocket(int type, uint16_t port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = socket(AF_INET, type, 0);
    if (fd != -1 && connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return fd;
    if (fd != -1)
        close(fd);
    return -1;
}

// Up to `wanted` bytes (one datagram for UDP), waiting at most 2 s for each piece.
Bytes receive(int fd, size_t wanted, bool stream)
{
    Bytes reply;
    uint8_t buffer[2048];
    while (reply.size() < wanted) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, 2000) != 1)
            break;
        const ssize_t n = recv(fd, buffer, stream ? wanted - reply.size() : sizeof buffer, 0);
        if (n <= 0)
            break;
        reply.insert(reply.end(), buffer, buffer + n);
        if (!stream)
            break;
    }
    return reply;
}

// One chunk of the fuzz input: the reply's length byte, then the reply.
void addChunk(Bytes& seed, const Bytes& reply)
{
    seed.push_back(static_cast<uint8_t>(reply.size()));
    seed.insert(seed.end(), reply.begin(), reply.end());
}

bool protocolSeed(const std::string& imagePath, Bytes& seed)
{
    std::ifstream file(imagePath, std::ios::binary);
    const Bytes image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.is_open() || image.size() > 0xFFFF || image.size() < kVersionLineSize) {
        std::fprintf(stderr, "kt_fuzz_seeds: %s is no image of at most 64 KiB\n", imagePath.c_str());
        return false;
    }
    seed = {static_cast<uint8_t>(image.size()), static_cast<uint8_t>(image.size() >> 8)};
    seed.insert(seed.end(), image.begin(), image.end());

    DeviceEmulator device;
    std::string error;
    if (!device.startTcp(&error)) {
        std::fprintf(stderr, "kt_fuzz_seeds: %s\n", error.c_str());
        return false;
    }
    const int fd = connectedSocket(SOCK_STREAM, device.port());
    auto ask = [&](const Bytes& request, size_t wanted) {
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        Bytes reply = receive(fd, wanted, true);
        addChunk(seed, reply);
        return reply;
    };
    const Bytes identified = ask({'K', 'O', 'R', 'V', 'A', 'N', 'E'}, 4);
    ask({'S'}, 2);
    uint8_t record[kBufferSize];
    for (size_t cursor = kVersionLineSize; cursor < image.size();) {
        const int length = cutRecord(image.data() + cursor, image.data() + image.size(), record);
        if (length == 0)
            break;
        ask(Bytes(record, record + length), 3);
        cursor += static_cast<size_t>(length) + 2;
    }
    // The verify request: the version line's minor and major digits as bytes.
    const std::string version(image.begin() + 1, image.begin() + 5);
    ask({static_cast<uint8_t>(std::stoi(version.substr(0, 2), nullptr, 16)),
         static_cast<uint8_t>(std::stoi(version.substr(2, 2), nullptr, 16))}, 4);
    ask({'Q'}, 1);
    close(fd);
    device.stop();
    return fd != -1 && identified.size() == 4;
}

bool xportSeed(Bytes& seed)
{
    // A free loopback port for the emulator's configuration port.
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    bind(probe, reinterpret_cast<const sockaddr*>(&local), sizeof local);
    getsockname(probe, reinterpret_cast<sockaddr*>(&local), &length);
    close(probe);

    XportEmulatorOptions options;
    options.port = ntohs(local.sin_port);
    XportEmulator xport(options);
    std::string error;
    if (!xport.start(&error)) {
        std::fprintf(stderr, "kt_fuzz_seeds: %s\n", error.c_str());
        return false;
    }
    const int fd = connectedSocket(SOCK_DGRAM, options.port);
    auto ask = [&](const Bytes& request, size_t wanted) {
        send(fd, request.data(), request.size(), 0);
        Bytes reply = receive(fd, wanted, false);
        addChunk(seed, reply);
        return reply;
    };
    ask({0, 0, 0, 0xF6}, 30);
    Bytes saved = ask({0, 0, 0, 0xF8}, 124);
    if (saved.size() != 124) {
        close(fd);
        return false;
    }
    Bytes put = saved;
    put[3] = 0xFA;
    put[21] = 8;
    ask(put, 4);
    ask({0, 0, 0, 0xF8}, 124);
    put = saved;
    put[3] = 0xFA;
    ask(put, 4);
    ask({0, 0, 0, 0xF8}, 124);
    close(fd);
    xport.stop();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    Bytes seed;
    bool made = false;
    if (what == "protocol" && argc == 4) {
        made = protocolSeed(argv[2], seed);
        // The image as it stands, then a marker for each of the replies.
        const size_t imageEnd = made ? 2 + (seed[0] | static_cast<size_t>(seed[1]) << 8) : 0;
        Bytes correct(seed.begin(), seed.begin() + static_cast<std::ptrdiff_t>(imageEnd));
        for (size_t at = imageEnd; made && at < seed.size(); at += 1 + seed[at])
            correct.push_back(0xFF);
        std::ofstream(std::string(argv[3]) + "-correct", std::ios::binary)
            .write(reinterpret_cast<const char*>(correct.data()), static_cast<std::streamsize>(correct.size()));
    }
    else if (what == "xport" && argc == 3) {
        made = xportSeed(seed);
        // The same exchanges, every reply left to the fake XPort.
        std::ofstream(std::string(argv[2]) + "-correct", std::ios::binary) << std::string(6, '\xFE');
    }
    else {
        std::fputs("Usage: kt_fuzz_seeds protocol IMAGE OUTFILE | xport OUTFILE\n", stderr);
        return 2;
    }
    if (!made)
        return 1;
    std::ofstream out(argv[argc - 1], std::ios::binary);
    out.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
    return out.good() ? 0 : 1;
}
