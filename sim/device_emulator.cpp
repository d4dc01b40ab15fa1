#include "device_emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const std::string kIdentify = "KORVANE";
const std::string kRecordTaken = "EFL";
const std::string kLastRecordTaken = "EFW";
const std::string kRecordRejected = "EFE";
constexpr size_t kLargestMemorySpan = 64u << 20;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two hex digits at `at`; -1 when either is not one.
int hexByte(const std::string& text, size_t at)
{
    if (at + 1 >= text.size())
        return -1;
    const int high = hexDigit(text[at]);
    const int low = hexDigit(text[at + 1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void setError(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
}

std::string errnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void closeFd(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

DeviceEmulator::DeviceEmulator(DeviceEmulatorOptions options) : options_(std::move(options))
{
    version_ = {options_.tag, options_.minor, options_.major};
}

DeviceEmulator::~DeviceEmulator()
{
    stop();
}

bool DeviceEmulator::startTcp(std::string* error)
{
    if (thread_.joinable()) {
        setError(error, "already started");
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(options_.port);
    if (inet_pton(AF_INET, options_.address.c_str(), &address.sin_addr) != 1) {
        setError(error, "not an IPv4 address: " + options_.address);
        return false;
    }
    listenSocket_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenSocket_ < 0) {
        setError(error, errnoText("socket"));
        return false;
    }
    const int yes = 1;
    setsockopt(listenSocket_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    socklen_t length = sizeof address;
    if (bind(listenSocket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenSocket_, 4) != 0 ||
        getsockname(listenSocket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        setError(error, errnoText("listen on " + options_.address + ":" + std::to_string(options_.port)));
        closeFd(listenSocket_);
        return false;
    }
    boundPort_ = ntohs(address.sin_port);
    if (!startThread(error)) {
        closeFd(listenSocket_);
        return false;
    }
    return true;
}

bool DeviceEmulator::startPty(std::string* error)
{
    if (thread_.joinable()) {
        setError(error, "already started");
        return false;
    }
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128] = {};
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        setError(error, errnoText("pseudo-terminal"));
        closeFd(master);
        return false;
    }
    // Raw from the start (the settings belong to the slave side), so that no
    // echo or line editing touches a byte before the host configures the port.
    termios settings{};
    if (tcgetattr(master, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(master, TCSANOW, &settings);
    }
    ptySlave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (ptySlave_ < 0) {
        setError(error, errnoText(std::string("open ") + name));
        closeFd(master);
        return false;
    }
    connection_ = master;
    connectionIsSocket_ = false;
    ptyPath_ = name;
    startLine();
    if (!startThread(error)) {
        closeFd(connection_);
        closeFd(ptySlave_);
        return false;
    }
    return true;
}

bool DeviceEmulator::startThread(std::string* error)
{
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) {
        setError(error, errnoText("pipe"));
        return false;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    thread_ = std::thread([this] { serve(); });
    return true;
}

void DeviceEmulator::stop()
{
    if (thread_.joinable()) {
        const char byte = 0;
        [[maybe_unused]] ssize_t ignored = write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    closeFd(connection_);
    closeFd(ptySlave_);
    closeFd(listenSocket_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
}

void DeviceEmulator::serve()
{
    // Pacing sleeps for fractions of a byte's time: ask for wake-ups close to
    // them, and, where allowed, for the processor before the host's programs,
    // as the line and the device run whatever the host is busy with.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    if (options_.baud > 0 || options_.replyLatencyMs > 0) {
        const sched_param priority{sched_get_priority_min(SCHED_FIFO)};
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);
    }
    uint8_t buffer[4096];
    for (;;) {
        pollfd entries[2] = {{wakeRead_, POLLIN, 0}, {-1, POLLIN, 0}};
        if (connection_ >= 0)
            entries[1].fd = connection_;
        else if (listenSocket_ >= 0)
            entries[1].fd = listenSocket_;
        if (poll(entries, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (entries[0].revents != 0)
            return;
        if (entries[1].revents == 0)
            continue;
        if (connection_ < 0) {
            const int accepted = accept4(listenSocket_, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted < 0)
                continue;
            const int yes = 1;
            setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            // A paced line starts when the host sent, not when this thread woke.
            if (options_.baud > 0)
                setsockopt(accepted, SOL_SOCKET, SO_TIMESTAMPNS, &yes, sizeof yes);
            connection_ = accepted;
            connectionIsSocket_ = true;
            startLine();
            std::lock_guard<std::mutex> lock(mutex_);
            ++counters_.connections;
            continue;
        }
        Clock::time_point received;
        const ssize_t n = receive(buffer, sizeof buffer, &received);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0 || !handleBytes(buffer, static_cast<size_t>(n), received))
            closeConnection();
    }
}

ssize_t DeviceEmulator::receive(uint8_t* buffer, size_t size, Clock::time_point* received)
{
    *received = Clock::now();
    if (!connectionIsSocket_)
        return read(connection_, buffer, size);
    iovec piece{buffer, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(connection_, &message, 0);
    for (cmsghdr* c = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr; c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        // The kernel's arrival stamp is wall-clock time: take its age.
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        const auto arrived = std::chrono::system_clock::time_point(std::chrono::duration_cast<
            std::chrono::system_clock::duration>(std::chrono::seconds(stamp.tv_sec) +
                                                 std::chrono::nanoseconds(stamp.tv_nsec)));
        const auto age = std::chrono::system_clock::now() - arrived;
        if (age > age.zero() && age < std::chrono::seconds(1))
            *received -= std::chrono::duration_cast<Clock::duration>(age);
    }
    return n;
}

void DeviceEmulator::closeConnection()
{
    // The end of the stream first: a record already sent and not yet read
    // would make the close a reset, and the client would see a failure
    // instead of the hang-up.
    if (connectionIsSocket_ && connection_ >= 0)
        shutdown(connection_, SHUT_WR);
    closeFd(connection_);
    // A pseudo-terminal is gone with its master side: hang up for good.
    if (!connectionIsSocket_)
        closeFd(ptySlave_);
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.clear();
}

void DeviceEmulator::startLine()
{
    rxLineFree_ = txLineFree_ = adapterEpoch_ = Clock::now();
}

DeviceEmulator::Clock::duration DeviceEmulator::lineTime(long long bytes) const
{
    if (options_.baud <= 0)
        return Clock::duration::zero();
    const double nanoseconds = static_cast<double>(bytes) * 10 * 1e9 / options_.baud;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(std::llround(nanoseconds)));
}

bool DeviceEmulator::handleBytes(const uint8_t* data, size_t length, Clock::time_point received)
{
    // The bytes came in one after the other on the line, starting no sooner
    // than they were received.
    const Clock::time_point lineStart = std::max(received, rxLineFree_);
    rxLineFree_ = lineStart + lineTime(static_cast<long long>(length));
    for (size_t i = 0; i < length; ++i) {
        Request request{};
        bool complete;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++counters_.bytesReceived;
            complete = takeByte(data[i], &request);
        }
        request.arrived = lineStart + lineTime(static_cast<long long>(i) + 1);
        if (complete && !reply(request))
            return false;
    }
    return true;
}

bool DeviceEmulator::takeByte(uint8_t byte, Request* request)
{
    const char c = static_cast<char>(byte);
    auto complete = [&](Kind kind, std::string answer) {
        pending_.clear();
        request->kind = kind;
        request->number = ++counters_.requests;
        request->record = kind == Kind::Record ? counters_.records : 0;
        request->reply = std::move(answer);
        return true;
    };

    if (mode_ == Mode::AwaitVerify) {
        // The two version bytes, raw: any value may come.
        pending_ += c;
        if (pending_.size() < 2)
            return false;
        ++counters_.verifies;
        const std::string answer =
            answerVerify(static_cast<uint8_t>(pending_[0]), static_cast<uint8_t>(pending_[1]));
        mode_ = Mode::Update;
        return complete(Kind::Verify, answer);
    }

    if (pending_.empty()) {
        switch (c) {
        case 'K':
            pending_ = c;
            return false;
        case 'S':
            ++counters_.erases;
            memory_.clear();
            addressBase_ = 0;
            cleanSinceErase_ = true;
            endSeen_ = false;
            version_[1] = version_[2] = 0xFF;  // nothing programmed
            mode_ = Mode::Update;
            return complete(Kind::Enter, "FE");
        case 'Q':
            ++counters_.quits;
            mode_ = Mode::Idle;
            return complete(Kind::Quit, "N");
        case ':':
            if (mode_ == Mode::Update) {
                pending_ = c;
                return false;
            }
            break;
        default:
            break;
        }
        ++counters_.strayBytes;
        return false;
    }

    if (pending_[0] == 'K') {
        pending_ += c;
        if (kIdentify.compare(0, pending_.size(), pending_) != 0) {
            // Not the identify request after all: drop what came before this byte.
            counters_.strayBytes += static_cast<int>(pending_.size()) - 1;
            pending_.clear();
            return takeByte(byte, request);
        }
        if (pending_.size() < kIdentify.size())
            return false;
        ++counters_.identifies;
        return complete(Kind::Identify,
                        std::string{'M', static_cast<char>(version_[0]), static_cast<char>(version_[1]),
                                    static_cast<char>(version_[2])});
    }

    // A record: ":" count(2) address(4) type(2) data(2 * count) checksum(2),
    // the end-of-file record followed by its CR.
    pending_ += c;
    const int count = hexByte(pending_, 1);
    const int type = pending_.size() >= 9 ? hexByte(pending_, 7) : 0;
    const bool layoutBroken = (pending_.size() >= 3 && count < 0) || (pending_.size() >= 9 && type < 0);
    const size_t expected = 11 + 2 * static_cast<size_t>(count < 0 ? 0 : count) + (type == 1 ? 1 : 0);
    if (!layoutBroken && (pending_.size() < 9 || pending_.size() < expected))
        return false;
    ++counters_.records;
    records_.push_back(pending_);
    return complete(Kind::Record, answerRecord(pending_));
}

std::string DeviceEmulator::answerRecord(const std::string& text)
{
    const int count = hexByte(text, 1);
    const int type = hexByte(text, 7);
    bool valid = count >= 0 && type >= 0;
    std::vector<uint8_t> bytes;
    for (size_t at = 1; valid && at + 1 < 11 + 2 * static_cast<size_t>(count); at += 2) {
        const int value = hexByte(text, at);
        valid = value >= 0;
        bytes.push_back(static_cast<uint8_t>(value));
    }
    if (valid) {
        unsigned sum = 0;
        for (uint8_t b : bytes)
            sum += b;
        valid = (sum & 0xFF) == 0;
    }
    switch (valid ? type : -1) {
    case 0: break;
    case 1: valid = count == 0 && text.size() == 12 && text.back() == '\r'; break;
    case 2:
    case 4: valid = count == 2; break;
    case 3:
    case 5: valid = count == 4; break;
    default: valid = false; break;
    }
    if (!valid) {
        ++counters_.badRecords;
        cleanSinceErase_ = false;
        return kRecordRejected;
    }

    const uint32_t offset = static_cast<uint32_t>(bytes[1]) << 8 | bytes[2];
    switch (type) {
    case 0:
        for (int i = 0; i < count; ++i)
            memory_[addressBase_ + offset + static_cast<uint32_t>(i)] = bytes[4 + static_cast<size_t>(i)];
        break;
    case 2: addressBase_ = (static_cast<uint32_t>(bytes[4]) << 8 | bytes[5]) << 4; break;
    case 4: addressBase_ = (static_cast<uint32_t>(bytes[4]) << 8 | bytes[5]) << 16; break;
    case 1:
        endSeen_ = true;
        mode_ = Mode::AwaitVerify;
        return options_.eflAtEnd ? kRecordTaken : kLastRecordTaken;
    default: break;
    }
    return counters_.records == options_.earlyLastRecord ? kLastRecordTaken : kRecordTaken;
}

std::string DeviceEmulator::answerVerify(uint8_t minor, uint8_t major)
{
    if (endSeen_ && cleanSinceErase_) {
        ++counters_.completeWrites;
        version_[1] = minor;
        version_[2] = major;
    }
    endSeen_ = false;
    const uint8_t reportedMinor = options_.wrongVersion ? static_cast<uint8_t>(version_[1] + 1) : version_[1];
    return std::string{'V', static_cast<char>(version_[0]), static_cast<char>(reportedMinor),
                       static_cast<char>(version_[2])};
}

bool DeviceEmulator::reply(const Request& request)
{
    const int number = request.number;
    bool keepConnection = true;
    if (request.kind == Kind::Record && options_.closeAfterRecords > 0 &&
        request.record >= options_.closeAfterRecords)
        keepConnection = false;

    std::string answer = request.reply;
    if (options_.silentFrom > 0 && number >= options_.silentFrom)
        answer.clear();
    if (auto cut = options_.shortReplies.find(number); cut != options_.shortReplies.end())
        answer.resize(std::min(answer.size(), static_cast<size_t>(std::max(cut->second, 0))));
    if (options_.wrongLetter.count(number) != 0 && !answer.empty())
        answer[0] = 'X';
    if (options_.doubledReplies.count(number) != 0)
        answer += answer;

    int delay = request.kind == Kind::Enter ? options_.eraseDelayMs : 0;
    if (request.kind == Kind::Record)
        delay += options_.programMs;
    if (auto late = options_.lateReplies.find(number); late != options_.lateReplies.end())
        delay += late->second;
    // The device answers once the whole request is in, and any hold has passed.
    bool sent = pauseUntil(request.arrived) && pause(delay);
    if (sent && !answer.empty())
        sent = transmit(answer);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++answered_;
    }
    answeredSignal_.notify_all();
    return sent && keepConnection;
}

bool DeviceEmulator::transmit(const std::string& answer)
{
    // Each byte is on the host's side of the line when its 10 bits are through,
    // and, behind an adapter with a latency timer, only at the timer's next tick.
    const bool pieces = options_.pieceDelayMs >= 0;
    const auto tick = std::chrono::milliseconds(options_.replyLatencyMs);
    Clock::time_point ready = Clock::now();
    std::vector<Clock::time_point> delivered;
    for (size_t i = 0; i < answer.size(); ++i) {
        if (pieces && i > 0)
            ready += std::chrono::milliseconds(options_.pieceDelayMs);
        txLineFree_ = std::max(ready, txLineFree_) + lineTime(1);
        Clock::time_point at = txLineFree_;
        if (tick.count() > 0) {
            const auto ticks = (at - adapterEpoch_ + tick - Clock::duration(1)) / tick;
            at = adapterEpoch_ + ticks * tick;
        }
        delivered.push_back(at);
    }
    // A reply goes out in one write once it is through (the host waits for all
    // of it anyway, and each write costs it a wake-up), or at each tick behind
    // an adapter, or byte by byte when told to.
    if (!pieces && tick.count() == 0)
        std::fill(delivered.begin(), delivered.end(), delivered.back());
    const auto* bytes = reinterpret_cast<const uint8_t*>(answer.data());
    for (size_t first = 0; first < answer.size();) {
        size_t end = first + 1;
        while (!pieces && end < answer.size() && delivered[end] == delivered[first])
            ++end;
        if (!pauseUntil(delivered[first]) || !sendAll(bytes + first, end - first))
            return false;
        first = end;
    }
    return true;
}

bool DeviceEmulator::sendAll(const uint8_t* data, size_t length)
{
    while (length > 0) {
        const ssize_t n = connectionIsSocket_ ? send(connection_, data, length, MSG_NOSIGNAL)
                                              : write(connection_, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
        std::lock_guard<std::mutex> lock(mutex_);
        counters_.bytesSent += n;
    }
    return true;
}

bool DeviceEmulator::pause(int milliseconds)
{
    return milliseconds <= 0 || pauseUntil(Clock::now() + std::chrono::milliseconds(milliseconds));
}

bool DeviceEmulator::pauseUntil(Clock::time_point deadline)
{
    // When pacing, the last stretch is waited out awake: a sleeping thread
    // wakes tens of microseconds late, a fair part of a byte's time.
    const bool precise = options_.baud > 0 || options_.replyLatencyMs > 0;
    constexpr long long kAwakeNs = 100000;
    pollfd entry{wakeRead_, POLLIN, 0};
    for (;;) {
        long long left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return true;
        if (precise && left <= kAwakeNs) {
            while (Clock::now() < deadline) {
            }
            return true;
        }
        if (precise)
            left -= kAwakeNs;
        const timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready > 0)
            return false;
        if (ready < 0 && errno != EINTR)
            return true;
    }
}

DeviceMemory DeviceEmulator::memory() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceMemory result;
    if (memory_.empty())
        return result;
    result.base = memory_.begin()->first;
    const size_t span = static_cast<size_t>(memory_.rbegin()->first - result.base) + 1;
    if (span > kLargestMemorySpan)
        return result;
    result.bytes.assign(span, 0xFF);
    for (const auto& [address, value] : memory_)
        result.bytes[address - result.base] = value;
    return result;
}

std::vector<std::string> DeviceEmulator::records() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
}

DeviceCounters DeviceEmulator::counters() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::array<uint8_t, 3> DeviceEmulator::version() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

bool DeviceEmulator::waitForRequests(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return answeredSignal_.wait_for(lock, timeout, [&] { return answered_ >= count; });
}

bool DeviceEmulator::writeMemoryFile(const std::string& path, std::string* error) const
{
    const DeviceMemory image = memory();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (image.bytes.empty() && !memory_.empty()) {
            setError(error, "the programmed addresses span more than 64 MiB");
            return false;
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) {
        setError(error, "cannot write " + path);
        return false;
    }
    return true;
}

std::string DeviceEmulator::summary() const
{
    const DeviceCounters c = counters();
    const DeviceMemory image = memory();
    const auto v = version();
    std::ostringstream line;
    char versionText[16];
    std::snprintf(versionText, sizeof versionText, "%X.%02X", unsigned{v[2]}, unsigned{v[1]});
    line << c.connections << " connection(s), " << c.bytesReceived << " bytes received: " << c.identifies
         << " identify, " << c.erases << " erase, " << c.records << " records (" << c.badRecords << " bad), "
         << c.verifies << " verify, " << c.quits << " quit, " << c.strayBytes << " stray bytes; "
         << c.completeWrites << " complete write(s), version " << versionText << ", " << image.bytes.size()
         << " bytes of memory";
    if (!image.bytes.empty()) {
        char range[32];
        std::snprintf(range, sizeof range, " from 0x%08X", static_cast<unsigned>(image.base));
        line << range;
    }
    return line.str();
}
