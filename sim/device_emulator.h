// The KT-58's firmware loader, emulated: it answers the update protocol over
// TCP (as the XPort's data port would carry it) or over a pseudo-terminal
// (as the COM port would), checks and keeps every record it is sent, and can
// be told to misbehave in the ways a device or a line might.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct DeviceEmulatorOptions {
    std::string address = "127.0.0.1";  // where the TCP port listens
    uint16_t port = 0;                   // 0: any free port (see DeviceEmulator::port)
    uint8_t tag = 0x01;                  // the tag byte of the "M" and "V" replies
    uint8_t minor = 0x00;                // the firmware version before any write
    uint8_t major = 0x01;

    // Fault injection. Requests and records are numbered from 1 since the start.
    int silentFrom = 0;                  // no reply to this request and all later ones; 0: never
    std::map<int, int> shortReplies;     // request -> number of its reply's bytes that go out
    std::set<int> wrongLetter;           // requests whose reply starts with "X" instead
    bool wrongVersion = false;           // the verify reply carries the given minor version + 1
    int earlyLastRecord = 0;             // this record is acknowledged with "EFW" although more follow
    bool eflAtEnd = false;               // the end-of-file record is acknowledged with "EFL"
    int eraseDelayMs = 0;                // pause before "FE"
    int pieceDelayMs = -1;               // >= 0: replies go out one byte at a time with this pause
    int closeAfterRecords = 0;           // the connection closes once this many records were answered
    std::map<int, int> lateReplies;      // request -> pause before its reply, in milliseconds
    std::set<int> doubledReplies;        // requests whose reply goes out twice in one piece

    // Line and device timing; 0 leaves each off.
    int baud = 0;                        // both directions paced at this rate, 10 bits a byte
    int programMs = 0;                   // each record's reply held this long (the device programs it)
    int replyLatencyMs = 0;              // replies reach the host only at the ticks of a USB serial
                                         // adapter's latency timer of this period
};

struct DeviceCounters {
    int connections = 0;
    int requests = 0;
    int identifies = 0;
    int erases = 0;
    int records = 0;
    int badRecords = 0;                  // records that failed the checks, answered "EFE"
    int verifies = 0;
    int quits = 0;
    int completeWrites = 0;              // verifies that followed a whole, clean write
    int strayBytes = 0;                  // bytes that were part of no request
    long long bytesReceived = 0;
    long long bytesSent = 0;
};

// The programmed memory from its lowest programmed address to its highest,
// unprogrammed bytes in between 0xFF.
struct DeviceMemory {
    uint32_t base = 0;
    std::vector<uint8_t> bytes;
};

class DeviceEmulator {
public:
    explicit DeviceEmulator(DeviceEmulatorOptions options = {});
    ~DeviceEmulator();
    DeviceEmulator(const DeviceEmulator&) = delete;
    DeviceEmulator& operator=(const DeviceEmulator&) = delete;

    // Listens on options.address:options.port and serves one connection at a
    // time on a thread of its own. False, with the reason in *error and
    // nothing left open, when the port cannot be set up.
    bool startTcp(std::string* error = nullptr);
    // Creates a pseudo-terminal and serves its master side; the slave's path
    // is the serial port to open.
    bool startPty(std::string* error = nullptr);
    // Stops serving, joins the thread and closes every descriptor. Idempotent.
    void stop();

    uint16_t port() const { return boundPort_; }
    const std::string& ptyPath() const { return ptyPath_; }

    DeviceMemory memory() const;
    // Every record received, as its text from ":" on.
    std::vector<std::string> records() const;
    DeviceCounters counters() const;
    // Tag, minor, major as the device reports them now.
    std::array<uint8_t, 3> version() const;
    // Waits until at least `count` requests were answered (or left silent).
    bool waitForRequests(int count, std::chrono::milliseconds timeout) const;
    // Writes memory() to a binary file.
    bool writeMemoryFile(const std::string& path, std::string* error = nullptr) const;
    // One line: what the device received and holds.
    std::string summary() const;

private:
    using Clock = std::chrono::steady_clock;
    enum class Mode { Idle, Update, AwaitVerify };
    enum class Kind { Identify, Enter, Record, Verify, Quit };
    struct Request {
        Kind kind;
        int number;
        int record;  // the record's number; 0 for other requests
        std::string reply;
        Clock::time_point arrived;  // when its last byte was in, at the line's rate
    };

    bool startThread(std::string* error);
    void serve();
    // Reads what the connection holds; *received is when it came in.
    ssize_t receive(uint8_t* buffer, size_t size, Clock::time_point* received);
    // Feeds received bytes through the loader; false once the connection is to end.
    bool handleBytes(const uint8_t* data, size_t length, Clock::time_point received);
    // The request that `byte` completes, if any (mutex_ held).
    bool takeByte(uint8_t byte, Request* request);
    std::string answerRecord(const std::string& text);  // mutex_ held
    std::string answerVerify(uint8_t minor, uint8_t major);  // mutex_ held
    bool reply(const Request& request);
    // Sends `answer` as the line and the adapter would deliver it.
    bool transmit(const std::string& answer);
    bool sendAll(const uint8_t* data, size_t length);
    // The time `bytes` bytes take on the line; zero when it is not paced.
    Clock::duration lineTime(long long bytes) const;
    // Sleeps, but returns false at once when the emulator is being stopped.
    bool pause(int milliseconds);
    bool pauseUntil(Clock::time_point deadline);
    void startLine();
    void closeConnection();

    DeviceEmulatorOptions options_;
    int listenSocket_ = -1;
    int connection_ = -1;      // the accepted socket, or the pty's master side
    bool connectionIsSocket_ = false;
    int ptySlave_ = -1;        // held open so the master never sees a hang-up
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    uint16_t boundPort_ = 0;
    std::string ptyPath_;
    std::thread thread_;
    Clock::time_point rxLineFree_;  // when the line from the host is idle again
    Clock::time_point txLineFree_;  // when the line to the host is idle again
    Clock::time_point adapterEpoch_;  // the first tick of the adapter's latency timer

    mutable std::mutex mutex_;
    mutable std::condition_variable answeredSignal_;
    int answered_ = 0;          // requests whose reply went out (or was withheld)
    Mode mode_ = Mode::Idle;
    std::string pending_;
    uint32_t addressBase_ = 0;
    bool cleanSinceErase_ = false;
    bool endSeen_ = false;
    std::map<uint32_t, uint8_t> memory_;
    std::vector<std::string> records_;
    DeviceCounters counters_;
    std::array<uint8_t, 3> version_{};
};
