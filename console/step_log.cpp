#include "step_log.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "adapter_latency.h"
#include "console_messages.h"
#include "trace_log.h"

namespace {

using Clock = std::chrono::steady_clock;

// The program's start, the zero of every step's time.
const Clock::time_point kProgramStart = Clock::now();

constexpr double kLineBytesPerMs = 115200.0 / 10 / 1000;  // 8N1: 10 bits a byte
constexpr double kReplyAllowanceMs = 3;
constexpr int kRecordReplyBytes = 3;

std::string secondsText(Clock::time_point at)
{
    char text[32];
    std::snprintf(text, sizeof text, "%8.3f s",
                  std::chrono::duration<double>(at - kProgramStart).count());
    return text;
}

std::string millisecondsText(double milliseconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f", milliseconds);
    return text;
}

std::string hexText(const uint8_t* bytes, int length)
{
    std::string text;
    for (int i = 0; i < length; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", unsigned{bytes[i]});
        text += digits;
    }
    return text.empty() ? "nothing" : text;
}

bool isRequest(const TraceRecord& record, const char* literal)
{
    const size_t length = std::strlen(literal);
    return record.length == static_cast<int32_t>(length) && std::memcmp(record.bytes, literal, length) == 0;
}

} // namespace

StepLog::StepLog(Say say, bool verbose, TraceLog* trace, Settle settle)
    : say_(std::move(say)), verbose_(verbose), trace_(trace), settle_(std::move(settle))
{
}

void StepLog::watchSerialLine(const std::string& device, const std::string& sysRoot)
{
    device_ = device;
    sysRoot_ = sysRoot;
    latencyChecked_ = false;
    roundTripsJudged_ = false;
}

void StepLog::traceHook(void* log, const TraceRecord& record)
{
    static_cast<StepLog*>(log)->trace(record);
}

void StepLog::settleHook(void* log, int milliseconds)
{
    auto* self = static_cast<StepLog*>(log);
    self->step(consoleMessage(TextStepSettle, {secondsText(Clock::now()), std::to_string(milliseconds)}));
    if (self->settle_)
        self->settle_(milliseconds);
}

bool StepLog::roundTripsSlow(std::vector<double> milliseconds, int lineBytes)
{
    if (milliseconds.empty())
        return false;
    std::sort(milliseconds.begin(), milliseconds.end());
    const double median = milliseconds[milliseconds.size() / 2];
    return median > 4 * lineBytes / kLineBytesPerMs + kReplyAllowanceMs;
}

void StepLog::step(const std::string& text)
{
    if (verbose_)
        say_(text);
}

double StepLog::sinceSent() const
{
    return std::chrono::duration<double, std::milli>(Clock::now() - sentAt_).count();
}

void StepLog::trace(const TraceRecord& record)
{
    if (trace_ != nullptr)
        trace_->write(record);
    if (record.bytes == nullptr || record.length < 0)
        return;
    switch (record.direction) {
    case TraceLinkSend:
        linkSent(record);
        break;
    case TraceLinkReceive:
        linkReceived(record);
        break;
    case TraceUdpSend:
        sentAt_ = Clock::now();
        pending_ = record.length < 4 ? Pending::Other
                   : record.bytes[3] == 0xF6 ? Pending::XportQuery
                   : record.bytes[3] == 0xF8 ? Pending::XportGet
                   : record.bytes[3] == 0xFA ? Pending::XportPut : Pending::Other;
        break;
    case TraceUdpReceive:
        udpReceived(record);
        break;
    default:
        break;
    }
}

void StepLog::linkSent(const TraceRecord& record)
{
    if (!latencyChecked_) {
        latencyChecked_ = true;
        std::string file;
        const int latency = adapterLatencyMs(device_, sysRoot_, &file);
        if (latency > 1)
            say_(consoleMessage(TextAdapterLatency, {device_, std::to_string(latency), file}));
    }
    sentAt_ = Clock::now();
    pendingBytes_ = record.length;
    pending_ = isRequest(record, "KORVANE") ? Pending::Identify
               : isRequest(record, "S")     ? Pending::Erase
               : record.length > 0 && record.bytes[0] == ':' ? Pending::Record : Pending::Other;
}

void StepLog::linkReceived(const TraceRecord& record)
{
    const double took = sinceSent();
    const Pending pending = pending_;
    pending_ = Pending::None;
    if (pending == Pending::Identify)
        step(consoleMessage(TextStepIdentify, {secondsText(Clock::now()), hexText(record.bytes, record.length),
                                               std::to_string(record.length), millisecondsText(took)}));
    else if (pending == Pending::Erase)
        step(consoleMessage(TextStepErase, {secondsText(Clock::now()), millisecondsText(took)}));
    if (pending != Pending::Record || roundTripsJudged_ || record.length != kRecordReplyBytes)
        return;
    roundTrips_.push_back(took);
    recordBytes_ = std::max(recordBytes_, pendingBytes_ + kRecordReplyBytes);
    if (roundTrips_.size() < kWatchedRecords)
        return;
    roundTripsJudged_ = true;
    if (!roundTripsSlow(roundTrips_, recordBytes_))
        return;
    std::sort(roundTrips_.begin(), roundTrips_.end());
    say_(consoleMessage(TextSlowRoundTrip, {millisecondsText(roundTrips_[roundTrips_.size() / 2]),
                                            std::to_string(kWatchedRecords),
                                            millisecondsText(recordBytes_ / kLineBytesPerMs)}));
}

void StepLog::udpReceived(const TraceRecord& record)
{
    static const char* const kNames[] = {"query", "get", "put"};
    const Pending pending = pending_;
    pending_ = Pending::None;
    if (pending < Pending::XportQuery)
        return;
    const char* name = kNames[static_cast<int>(pending) - static_cast<int>(Pending::XportQuery)];
    step(consoleMessage(TextStepXport, {secondsText(Clock::now()), name, (record.peer != nullptr ? peerText(*record.peer) : std::string("?")),
                                        std::to_string(record.length), millisecondsText(sinceSent())}));
}
