// The console's --trace: one timestamped line per exchange with the device or
// the XPort, the bytes in hex with their printable ASCII beside them.
#pragma once

#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "exchange_trace.h"

class TraceLog {
public:
    // `columns` 0 writes every byte (a file); otherwise (a terminal that
    // wide) a line that would be longer shows only the record's first and last
    // bytes around the count of those left out, "...(480)...", and fits.
    explicit TraceLog(std::FILE* out, int columns = 0);

    void write(const TraceRecord& record);
    // A trace file's first lines: the program and its version, the command
    // line (each argument with a space or quote in single quotes) and the
    // date and time in UTC, each line starting with '#'.
    static std::string header(const std::vector<std::string>& arguments, std::time_t now);
    void writeHeader(const std::vector<std::string>& arguments);
    // For a run's hooks: trace = TraceLog::hook, traceContext = &log.
    static void hook(void* context, const TraceRecord& record);

    // One line without its line end, e.g.
    //   "    152 ms link out 7: 4B 4F 52 56 41 4E 45  |KORVANE|"
    //   "    160 ms link in 4 of 4: 4D 01 00 01  |M...|"
    //   "     15 ms udp out 127.0.0.1:30718 4: 00 00 00 F6  |....|"
    static std::string line(const TraceRecord& record, long long milliseconds, int columns);

private:
    std::FILE* out_;
    int columns_;
    std::chrono::steady_clock::time_point start_;
};

// An IPv4 peer as "a.b.c.d:port".
std::string peerText(const sockaddr_in& peer);
