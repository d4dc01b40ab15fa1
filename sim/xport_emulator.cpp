#include "xport_emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace {

const std::array<uint8_t, 4> kQuery{0x00, 0x00, 0x00, 0xF6};
const std::array<uint8_t, 4> kGetSetup{0x00, 0x00, 0x00, 0xF8};
const std::array<uint8_t, 4> kPutSetup{0x00, 0x00, 0x00, 0xFA};
constexpr size_t kHeaderSize = 4;
constexpr int kQueryReplyFill = 64;
// The marker of sync(): nothing an XPort client sends.
constexpr std::string_view kSyncMarker = "kt58sim xport sync";

bool startsWith(const std::vector<uint8_t>& bytes, const std::array<uint8_t, 4>& header)
{
    return bytes.size() >= header.size() && std::equal(header.begin(), header.end(), bytes.begin());
}

std::string addressText(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

// A datagram socket bound to address:port, close-on-exec; -1 with *error set on failure.
int boundSocket(const std::string& address, uint16_t port, std::string* error)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        *error = "not an IPv4 address: " + address;
        return -1;
    }
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == -1) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        *error = "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

void closeIfOpen(int& fd)
{
    if (fd != -1)
        close(fd);
    fd = -1;
}

template <typename T>
bool parseNumber(std::string_view text, T& out, T low, T high)
{
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < static_cast<long long>(low) ||
        value > static_cast<long long>(high))
        return false;
    out = static_cast<T>(value);
    return true;
}

// "000000FB", "00 00 00 FB" or "00:00:00:FB".
bool parseHexBytes(std::string_view text, std::vector<uint8_t>& out)
{
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':')
            continue;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        return false;
    out = std::move(bytes);
    return true;
}

std::string hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char piece[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(piece, sizeof piece, i ? " %02X" : "%02X", bytes[i]);
        text += piece;
    }
    return text;
}

} // namespace

XportRecord defaultXportRecord(uint8_t byte21)
{
    XportRecord record{};
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    record[21] = byte21;
    return record;
}

XportOptionResult parseXportOption(std::string_view name, std::string_view value, XportEmulatorOptions& options)
{
    if (name.substr(0, 2) == "--")
        name.remove_prefix(2);
    const auto accepted = [](bool ok) { return ok ? XportOptionResult::Accepted : XportOptionResult::BadValue; };
    if (name == "xport-address") {
        in_addr probe{};
        std::string text(value);
        if (inet_pton(AF_INET, text.c_str(), &probe) != 1)
            return XportOptionResult::BadValue;
        options.address = text;
        return XportOptionResult::Accepted;
    }
    if (name == "xport-port")
        return accepted(parseNumber<uint16_t>(value, options.port, 1, 65535));
    if (name == "xport-byte21")
        return accepted(parseNumber<uint8_t>(value, options.record[21], 0, 255));
    if (name == "xport-apply-delay")
        return accepted(parseNumber<int>(value, options.applyDelayMs, 0, 600000));
    if (name == "xport-query-length")
        return accepted(parseNumber<int>(value, options.queryReplyLength, 0, kQueryReplyFill));
    if (name == "xport-setup-length")
        return accepted(parseNumber<int>(value, options.setupReplyLength, 0, 2 * kXportRecordSize));
    if (name == "xport-put-reply")
        return accepted(parseHexBytes(value, options.putReply));
    if (name == "xport-setup-header") {
        std::vector<uint8_t> bytes;
        if (!parseHexBytes(value, bytes) || bytes.size() != options.setupHeader.size())
            return XportOptionResult::BadValue;
        std::copy(bytes.begin(), bytes.end(), options.setupHeader.begin());
        return XportOptionResult::Accepted;
    }
    if (name == "xport-unapplied-put" || name == "xport-silent") {
        int number = 0;
        if (!parseNumber<int>(value, number, 1, 1000000))
            return XportOptionResult::BadValue;
        (name == "xport-silent" ? options.silentExchanges : options.unappliedPuts).insert(number);
        return XportOptionResult::Accepted;
    }
    if (name == "xport-split")
        return accepted(parseNumber<int>(value, options.splitSetupReplyAt, 1, kXportRecordSize - 1));
    if (name == "xport-other-source") {
        in_addr probe{};
        std::string text(value);
        if (inet_pton(AF_INET, text.c_str(), &probe) != 1)
            return XportOptionResult::BadValue;
        options.otherSource = text;
        return XportOptionResult::Accepted;
    }
    if (name == "xport-drift")
        return accepted(parseNumber<int>(value, options.driftByte, 0, kXportRecordSize - 1));
    return XportOptionResult::NotMine;
}

const char* xportOptionsHelp()
{
    return "XPort configuration port (UDP):\n"
           "  --xport-address=A         listen on address A (default 127.0.0.1), port 30718\n"
           "  --xport-port=N            listen on port N instead\n"
           "  --xport-byte21=N          byte 21 of the setup record at start (default 2)\n"
           "  --xport-setup-header=HEX  bytes 0-3 of each get-setup reply (default 000000F9)\n"
           "  --xport-apply-delay=MS    a put takes effect MS after it is acknowledged (default 0)\n"
           "  --xport-query-length=N    query reply of N bytes (default 30; 0 sends an empty datagram)\n"
           "  --xport-setup-length=N    get-setup replies of N bytes (default 124; cut or zero-padded)\n"
           "  --xport-put-reply=HEX     reply to a put (default 000000FB)\n"
           "  --xport-unapplied-put=N   acknowledge the N-th put but do not apply it (repeatable)\n"
           "  --xport-silent=N          leave the N-th request unanswered (repeatable)\n"
           "  --xport-split=N           send each get-setup reply as two datagrams split at byte N\n"
           "  --xport-other-source=A    send every reply from address A instead\n"
           "  --xport-drift=N           applying a put also inverts byte N of the record\n";
}

std::string describeExchange(const XportExchange& exchange)
{
    std::string text = "#" + std::to_string(exchange.number) + " from " + exchange.clientAddress + ":" +
                       std::to_string(exchange.clientPort) + ": " + hex(exchange.request) + " ->";
    if (exchange.replies.empty())
        return text + " (no reply)";
    for (size_t i = 0; i < exchange.replies.size(); ++i)
        text += (i ? " | [" : " [") + std::to_string(exchange.replies[i].size()) + "] " + hex(exchange.replies[i]);
    return text + " (from " + exchange.replySource + ")";
}

XportEmulator::XportEmulator(XportEmulatorOptions options) : options_(std::move(options)), record_(options_.record)
{
}

XportEmulator::~XportEmulator()
{
    stop();
}

bool XportEmulator::start(std::string* error)
{
    std::string reason;
    if (thread_.joinable()) {
        reason = "already serving";
    } else if ((socket_ = boundSocket(options_.address, options_.port, &reason)) != -1 &&
               (options_.otherSource.empty() ||
                (otherSocket_ = boundSocket(options_.otherSource, options_.port, &reason)) != -1)) {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {
            wakeRead_ = ends[0];
            wakeWrite_ = ends[1];
            thread_ = std::thread([this] { serve(); });
            return true;
        }
        reason = std::string("pipe: ") + std::strerror(errno);
    }
    if (!thread_.joinable()) {
        closeIfOpen(socket_);
        closeIfOpen(otherSocket_);
    }
    if (error)
        *error = reason;
    return false;
}

void XportEmulator::stop()
{
    if (thread_.joinable()) {
        const char wake = 1;
        while (write(wakeWrite_, &wake, 1) == -1 && errno == EINTR) {
        }
        thread_.join();
    }
    closeIfOpen(socket_);
    closeIfOpen(otherSocket_);
    closeIfOpen(wakeRead_);
    closeIfOpen(wakeWrite_);
}

XportRecord XportEmulator::record()
{
    std::lock_guard<std::mutex> lock(mutex_);
    applyDuePuts();
    return record_;
}

std::vector<XportExchange> XportEmulator::exchanges() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

bool XportEmulator::sync(std::chrono::milliseconds timeout)
{
    int number;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable())
            return false;
        number = ++syncsSent_;
    }
    sockaddr_in to{};
    socklen_t toLength = sizeof to;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&to), &toLength) != 0)
        return false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd == -1)
        return false;
    sendto(fd, kSyncMarker.data(), kSyncMarker.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
    std::unique_lock<std::mutex> lock(mutex_);
    return served_.wait_for(lock, timeout, [&] { return syncsSeen_ >= number; });
}

bool XportEmulator::waitForExchanges(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return served_.wait_for(lock, timeout, [&] { return log_.size() >= count; });
}

void XportEmulator::serve()
{
    std::vector<uint8_t> buffer(65536);
    while (true) {
        pollfd entries[2] = {{socket_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (entries[1].revents != 0)
            return;
        if ((entries[0].revents & POLLIN) == 0)
            continue;
        sockaddr_in client{};
        socklen_t clientLength = sizeof client;
        ssize_t n = recvfrom(socket_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&client),
                             &clientLength);
        if (n < 0)
            continue;
        if (std::string_view(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n)) == kSyncMarker) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++syncsSeen_;
            }
            served_.notify_all();
            continue;
        }
        handle(std::vector<uint8_t>(buffer.begin(), buffer.begin() + n), client);
    }
}

void XportEmulator::handle(const std::vector<uint8_t>& request, const sockaddr_in& client)
{
    XportExchange exchange;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        applyDuePuts();
        exchange.number = static_cast<int>(log_.size()) + 1;
        exchange.received = std::chrono::steady_clock::now();
        exchange.request = request;
        exchange.clientAddress = addressText(client);
        exchange.clientPort = ntohs(client.sin_port);
        if (!options_.silentExchanges.count(exchange.number))
            exchange.replies = replyTo(request);
    }
    const int from = otherSocket_ != -1 ? otherSocket_ : socket_;
    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    getsockname(from, reinterpret_cast<sockaddr*>(&source), &sourceLength);
    exchange.replySource = addressText(source) + ":" + std::to_string(ntohs(source.sin_port));
    // Logged before the replies go out: a client that has its reply finds its
    // exchange in the log.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(exchange);
    }
    served_.notify_all();
    for (const auto& reply : exchange.replies)
        sendto(from, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&client), sizeof client);
    if (options_.onExchange)
        options_.onExchange(exchange);
}

void XportEmulator::applyDuePuts()
{
    const auto now = std::chrono::steady_clock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
        record_ = pending_.front().record;
        if (options_.driftByte >= 0)
            record_[static_cast<size_t>(options_.driftByte)] ^= 0xFF;
        pending_.erase(pending_.begin());
    }
}

std::vector<std::vector<uint8_t>> XportEmulator::replyTo(const std::vector<uint8_t>& request)
{
    if (request.size() == kHeaderSize && startsWith(request, kQuery)) {
        std::vector<uint8_t> reply{0x00, 0x00, 0x00, 0xF7};
        for (int i = static_cast<int>(kHeaderSize); i < kQueryReplyFill; ++i)
            reply.push_back(static_cast<uint8_t>(0x40 + i));
        reply.resize(static_cast<size_t>(options_.queryReplyLength));
        return {reply};
    }
    if (request.size() == kHeaderSize && startsWith(request, kGetSetup)) {
        std::vector<uint8_t> reply(record_.begin(), record_.end());
        std::copy(options_.setupHeader.begin(), options_.setupHeader.end(), reply.begin());
        reply.resize(static_cast<size_t>(options_.setupReplyLength));
        const auto split = static_cast<size_t>(options_.splitSetupReplyAt);
        if (split == 0 || split >= reply.size())
            return {reply};
        return {std::vector<uint8_t>(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(split)),
                std::vector<uint8_t>(reply.begin() + static_cast<std::ptrdiff_t>(split), reply.end())};
    }
    if (request.size() == kXportRecordSize && startsWith(request, kPutSetup)) {
        const int put = ++puts_;
        if (!options_.unappliedPuts.count(put)) {
            // The XPort keeps its own header bytes; the rest is the request's.
            PendingPut pending{std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.applyDelayMs),
                               record_};
            std::copy(request.begin() + kHeaderSize, request.end(), pending.record.begin() + kHeaderSize);
            pending_.push_back(pending);
            applyDuePuts();
        }
        return {options_.putReply};
    }
    return {};
}
