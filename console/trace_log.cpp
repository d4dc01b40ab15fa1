#include "trace_log.h"

#include <algorithm>
#include <cstring>

#include "kt_version.h"
#include "output_gate.h"

namespace {

const char* directionText(int32_t direction)
{
    switch (direction) {
    case TraceLinkSend: return "link out";
    case TraceLinkReceive: return "link in";
    case TraceUdpSend: return "udp out";
    case TraceUdpReceive: return "udp in";
    default: return "?";
    }
}

} // namespace

TraceLog::TraceLog(std::FILE* out, int columns)
    : out_(out), columns_(columns), start_(std::chrono::steady_clock::now())
{
}

std::string TraceLog::line(const TraceRecord& record, long long milliseconds, int columns)
{
    const bool receive = record.direction == TraceLinkReceive || record.direction == TraceUdpReceive;
    const int length = record.bytes == nullptr || record.length < 0 ? 0 : record.length;
    char head[96];
    std::snprintf(head, sizeof head, "%7lld ms %s", milliseconds, directionText(record.direction));
    std::string text = head + (record.peer != nullptr ? " " + peerText(*record.peer) : "") + " " + std::to_string(length);
    if (receive)
        text += " of " + std::to_string(record.wanted);
    if (record.failed)
        text += " (not sent)";
    text += ":";
    if (length == 0)
        return text + " (nothing)";

    // The bytes shown: all (4 columns each, hex and ASCII), or as many of the
    // first and last ones as fit around the gap's count.
    int first = length, last = 0;
    const int gapColumns = static_cast<int>(std::to_string(length).size()) + 12;
    if (columns > 0 && static_cast<int>(text.size()) + 4 * length + 4 > columns) {
        const int fit = std::max(2, (columns - static_cast<int>(text.size()) - gapColumns - 4) / 4);
        if (fit < length) {
            first = (fit + 1) / 2;
            last = fit / 2;
        }
    }
    std::string hex, ascii;
    const auto add = [&](int from, int to) {
        for (int i = from; i < to; ++i) {
            const uint8_t byte = record.bytes[i];
            char digits[4];
            std::snprintf(digits, sizeof digits, " %02X", unsigned{byte});
            hex += digits;
            ascii += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
    };
    add(0, first);
    if (first < length) {
        const std::string gap = " ...(" + std::to_string(length - first - last) + ")...";
        hex += gap;
        ascii += "...";
        add(length - last, length);
    }
    return text + hex + "  |" + ascii + "|";
}

void TraceLog::write(const TraceRecord& record)
{
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    const long long milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    // One call per line, flushed, so that a trace ends with the last exchange
    // even when the run is cut short.
    writeThroughGate(out_, line(record, milliseconds, columns_) + "\n",
                     [](std::FILE* stream, const std::string& text) { std::fputs(text.c_str(), stream); });
}

void TraceLog::hook(void* context, const TraceRecord& record)
{
    static_cast<TraceLog*>(context)->write(record);
}

std::string TraceLog::header(const std::vector<std::string>& arguments, std::time_t now)
{
    std::string command = "kt5cufirm";
    for (const std::string& argument : arguments) {
        if (!argument.empty() && argument.find_first_of(" \t'\"") == std::string::npos) {
            command += " " + argument;
            continue;
        }
        std::string quoted = "'";
        for (const char c : argument)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " " + quoted + "'";
    }
    char date[64] = "";
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", utc);
    return "# kt5cufirm " KT_VERSION_TEXT " trace\n# command line: " + command + "\n# started: " + date + "\n";
}

void TraceLog::writeHeader(const std::vector<std::string>& arguments)
{
    std::fputs(header(arguments, std::time(nullptr)).c_str(), out_);
    std::fflush(out_);
}

std::string peerText(const sockaddr_in& peer)
{
    // Both fields are in network order: their bytes read in memory order.
    uint8_t address[4];
    uint8_t port[2];
    std::memcpy(address, &peer.sin_addr, sizeof address);
    std::memcpy(port, &peer.sin_port, sizeof port);
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", unsigned{address[0]}, unsigned{address[1]},
                  unsigned{address[2]}, unsigned{address[3]}, unsigned{port[0]} * 256u + port[1]);
    return text;
}
