#include "fleet_board.h"

#include <algorithm>

#include "console_messages.h"
#include "console_view.h"
#include "terminal.h"
#include "text_encoding.h"

namespace {

// Progress is redrawn at most this often; a settling countdown once a second.
constexpr auto kDrawEvery = std::chrono::milliseconds(100);
constexpr auto kTick = std::chrono::milliseconds(250);

} // namespace

FleetBoard::FleetBoard(std::FILE* terminal) : terminal_(terminal)
{
    ticker_ = std::thread([this] { tick(); });
}

FleetBoard::~FleetBoard()
{
    {
        std::lock_guard<std::mutex> held(consoleOutputLock());
        stop_ = true;
    }
    wake_.notify_all();
    ticker_.join();
}

int FleetBoard::add(const std::string& name)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    erase();
    auto free = std::find_if(rows_.begin(), rows_.end(), [](const Row& row) { return !row.used; });
    if (free == rows_.end())
        free = rows_.insert(rows_.end(), Row{});
    *free = Row{};
    free->name = name;
    free->used = true;
    free->started = std::chrono::steady_clock::now();
    draw();
    return static_cast<int>(free - rows_.begin());
}

void FleetBoard::phase(int row, const std::string& text)
{
    {
        std::lock_guard<std::mutex> held(consoleOutputLock());
        // The last line of a status (a question stands after the versions);
        // a new phase ends the bar of the one before.
        Row& unit = rows_[static_cast<size_t>(row)];
        unit.phase = text.substr(text.find_last_of('\n') == std::string::npos ? 0 : text.find_last_of('\n') + 1);
        unit.settledAt = {};
        unit.maximum = 0;
    }
    redraw(true);
}

void FleetBoard::progress(int row, uint32_t position, uint32_t maximum)
{
    {
        std::lock_guard<std::mutex> held(consoleOutputLock());
        Row& unit = rows_[static_cast<size_t>(row)];
        if (unit.maximum != maximum)
            unit.started = std::chrono::steady_clock::now();
        unit.position = position;
        unit.maximum = maximum;
    }
    redraw(false);
}

void FleetBoard::settling(int row, int milliseconds)
{
    {
        std::lock_guard<std::mutex> held(consoleOutputLock());
        rows_[static_cast<size_t>(row)].settledAt =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    }
    redraw(true);
}

void FleetBoard::remove(int row)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    erase();
    rows_[static_cast<size_t>(row)].used = false;
    draw();
}

std::string FleetBoard::rowText(const Row& row, size_t nameWidth, int columns,
                                std::chrono::steady_clock::time_point now)
{
    std::string text = row.name;
    text.resize(std::max(nameWidth, text.size()), ' ');
    std::string phase = row.phase;
    if (row.settledAt > now) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(row.settledAt - now).count() + 1;
        phase = consoleMessage(TextSettling, {std::to_string(left)});
    }
    // While the unit writes, its bar stands for its phase.
    const int room = columns - static_cast<int>(text.size()) - 2;
    if (row.maximum > 0 && row.settledAt <= now && room > 0) {
        const double seconds = std::chrono::duration<double>(now - row.started).count();
        text += "  " + ConsoleView::progressLine(row.position, row.maximum, seconds, room);
    } else {
        text += "  " + phase;
    }
    // One column is left free, so that the terminal never wraps the line.
    if (static_cast<int>(text.size()) > columns - 1)
        text.resize(static_cast<size_t>(std::max(0, columns - 1)));
    return text;
}

void FleetBoard::erase()
{
    if (drawn_ == 0)
        return;
    std::fprintf(terminal_, "\033[%dA\r\033[J", drawn_);
    std::fflush(terminal_);
    drawn_ = 0;
}

void FleetBoard::draw()
{
    const int columns = std::max(20, terminalColumns(terminal_));
    const auto now = std::chrono::steady_clock::now();
    size_t nameWidth = 0;
    for (const Row& row : rows_)
        nameWidth = row.used ? std::max(nameWidth, row.name.size()) : nameWidth;
    std::string text;
    for (const Row& row : rows_) {
        if (!row.used)
            continue;
        text += rowText(row, nameWidth, columns, now) + "\n";
        ++drawn_;
    }
    writeConsoleText(terminal_, text);
    std::fflush(terminal_);
    lastDrawn_ = now;
}

void FleetBoard::redraw(bool always)
{
    std::lock_guard<std::mutex> held(consoleOutputLock());
    if (!always && std::chrono::steady_clock::now() - lastDrawn_ < kDrawEvery)
        return;
    erase();
    draw();
}

void FleetBoard::tick()
{
    std::unique_lock<std::mutex> held(consoleOutputLock());
    while (!stop_) {
        wake_.wait_for(held, kTick);
        if (stop_)
            break;
        if (std::chrono::steady_clock::now() - lastDrawn_ >= std::chrono::seconds(1) ||
            std::any_of(rows_.begin(), rows_.end(), [](const Row& row) { return row.used && row.settledAt != decltype(row.settledAt){}; })) {
            erase();
            draw();
        }
    }
}
