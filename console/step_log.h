// What the console learns from a run's exchanges: --verbose's steps (the
// identify reply, the erase's time, the XPort's exchanges, the settling
// waits), each with the seconds since the program started; and, on a serial
// line, whether a USB adapter holds the replies back. It sits in the run's
// hooks in front of the trace and the view's countdown, which it feeds.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "exchange_trace.h"

class TraceLog;

class StepLog {
public:
    using Say = std::function<void(const std::string&)>;
    using Settle = std::function<void(int milliseconds)>;

    // `say` writes one line on standard error; `trace`, when given, gets every record.
    StepLog(Say say, bool verbose, TraceLog* trace, Settle settle);

    // On a serial line: warn once when the adapter's latency timer stands
    // above 1 ms (read from `sysRoot`, "/sys" but in tests) or when the first
    // records' round trips are far longer than the line needs.
    void watchSerialLine(const std::string& device, const std::string& sysRoot = "/sys");

    // For a run's hooks: trace = traceHook and settle = settleHook, both with &log.
    static void traceHook(void* log, const TraceRecord& record);
    static void settleHook(void* log, int milliseconds);

    // Whether the records' round trips (ms) are slow for records of
    // `lineBytes` bytes both ways at 115200 baud: their median above four
    // times the line's time and a few ms.
    static bool roundTripsSlow(std::vector<double> milliseconds, int lineBytes);
    static constexpr size_t kWatchedRecords = 16;

private:
    void trace(const TraceRecord& record);
    void linkSent(const TraceRecord& record);
    void linkReceived(const TraceRecord& record);
    void udpReceived(const TraceRecord& record);
    void step(const std::string& text);
    double sinceSent() const;

    Say say_;
    bool verbose_;
    TraceLog* trace_;
    Settle settle_;
    std::string device_, sysRoot_;
    bool latencyChecked_ = true;   // until watchSerialLine
    bool roundTripsJudged_ = true;
    // The request awaiting its reply: what it was and when it went out.
    enum class Pending { None, Identify, Erase, Record, Other, XportQuery, XportGet, XportPut } pending_ = Pending::None;
    int pendingBytes_ = 0;
    std::chrono::steady_clock::time_point sentAt_;
    std::vector<double> roundTrips_;
    int recordBytes_ = 0;
};
