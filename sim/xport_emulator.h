// An XPort's UDP configuration port on loopback: it answers the query, get-setup
// and put-setup requests from a 124-byte setup record, can be told to misbehave
// in the ways a real module or network might, and logs every exchange it served.
#pragma once

#include <array>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>

#include "default_ports.h"
#include <vector>

#include <netinet/in.h>

inline constexpr int kXportRecordSize = 124;
using XportRecord = std::array<uint8_t, kXportRecordSize>;

// A recognisable setup record: byte i is (i * 7 + 3) & 0xFF, byte 21 as given.
XportRecord defaultXportRecord(uint8_t byte21);

// One request the emulator received and what it sent back.
struct XportExchange {
    int number = 0;                            // 1 for the first request served
    std::vector<uint8_t> request;
    std::vector<std::vector<uint8_t>> replies; // datagrams sent, in order; none when silent
    std::string clientAddress;
    uint16_t clientPort = 0;
    std::string replySource;                   // "address:port" the replies were sent from
    std::chrono::steady_clock::time_point received;
};

struct XportEmulatorOptions {
    std::string address = "127.0.0.1";         // where the configuration port listens
    uint16_t port = kXportConfigPort;
    XportRecord record = defaultXportRecord(2); // the setup record held at start
    std::array<uint8_t, 4> setupHeader{0x00, 0x00, 0x00, 0xF9}; // bytes 0-3 of each get-setup reply
    int applyDelayMs = 0;                      // a put takes effect this long after it is acknowledged
    int queryReplyLength = 30;                 // 29: short; 32: over-long; 0: an empty datagram
    int setupReplyLength = kXportRecordSize;   // get-setup replies cut short or padded to this length
    std::vector<uint8_t> putReply{0x00, 0x00, 0x00, 0xFB};
    std::set<int> unappliedPuts;               // puts (1 = first) acknowledged but never applied
    std::set<int> silentExchanges;             // requests (1 = first) neither answered nor acted on
    int splitSetupReplyAt = 0;                 // >0: each get-setup reply as two datagrams split here
    std::string otherSource;                   // non-empty: replies are sent from this address
    int driftByte = -1;                        // 0-123: applying a put also inverts this byte
    // Called on the emulator's thread after each exchange (for a front end's log).
    std::function<void(const XportExchange&)> onExchange;
};

enum class XportOptionResult { NotMine, Accepted, BadValue };

// Parses one command-line option of the XPort responder: `name` with or without
// its leading "--" (e.g. "xport-port"), `value` the text after '=' (empty for a flag).
XportOptionResult parseXportOption(std::string_view name, std::string_view value, XportEmulatorOptions& options);
// Help lines for the options parseXportOption knows.
const char* xportOptionsHelp();

// "#3 from 127.0.0.1:10001: 00 00 00 F8 -> [100] 00 00 00 F9 ... | [24] ..."
std::string describeExchange(const XportExchange& exchange);

class XportEmulator {
public:
    explicit XportEmulator(XportEmulatorOptions options);
    ~XportEmulator();
    XportEmulator(const XportEmulator&) = delete;
    XportEmulator& operator=(const XportEmulator&) = delete;

    // Binds the port(s) and starts serving on a thread of its own. False (with
    // the reason in *error) when a socket cannot be set up; nothing is left open then.
    bool start(std::string* error = nullptr);
    // Stops serving, joins the thread and closes every descriptor. Idempotent.
    void stop();

    // The record as the XPort holds it now (puts whose delay has passed applied).
    XportRecord record();
    std::vector<XportExchange> exchanges() const;
    // Waits until at least `count` exchanges were served; false on time-out.
    bool waitForExchanges(size_t count, std::chrono::milliseconds timeout) const;
    // Waits until every datagram that reached the port before this call has
    // been served (a marker is sent and awaited; it is not logged).
    bool sync(std::chrono::milliseconds timeout);

private:
    struct PendingPut {
        std::chrono::steady_clock::time_point due;
        XportRecord record;
    };

    void serve();
    void handle(const std::vector<uint8_t>& request, const sockaddr_in& client);
    void applyDuePuts();  // mutex_ held
    std::vector<std::vector<uint8_t>> replyTo(const std::vector<uint8_t>& request);  // mutex_ held

    XportEmulatorOptions options_;
    int socket_ = -1;
    int otherSocket_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable served_;
    XportRecord record_{};
    std::vector<PendingPut> pending_;
    std::vector<XportExchange> log_;
    int puts_ = 0;
    int syncsSent_ = 0;
    int syncsSeen_ = 0;
};
