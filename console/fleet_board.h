// A fleet's units side by side on a terminal: one line per running unit
// (its name, phase, bar and rate) redrawn in place below the text, every
// other line of the console scrolling above it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "output_gate.h"

class FleetBoard : public OutputOverlay {
public:
    // Drawn on `terminal` (standard error), fitted into its width.
    explicit FleetBoard(std::FILE* terminal);
    ~FleetBoard() override;
    FleetBoard(const FleetBoard&) = delete;
    FleetBoard& operator=(const FleetBoard&) = delete;

    // Any thread. A unit's line: added, then its phase (a status text), its
    // progress and its settling wait, until it is removed.
    int add(const std::string& name);
    void phase(int row, const std::string& text);
    void progress(int row, uint32_t position, uint32_t maximum);
    void settling(int row, int milliseconds);
    void remove(int row);

    // The line of one unit as drawn within `columns`.
    struct Row {
        std::string name, phase;
        uint32_t position = 0, maximum = 0;
        std::chrono::steady_clock::time_point started, settledAt;
        bool used = false;
    };
    static std::string rowText(const Row& row, size_t nameWidth, int columns,
                               std::chrono::steady_clock::time_point now);

    // OutputOverlay, under the console's output lock.
    void erase() override;
    void draw() override;

private:
    void redraw(bool always);  // takes the output lock
    void tick();

    std::FILE* terminal_;
    std::vector<Row> rows_;    // guarded by the console's output lock
    int drawn_ = 0;            // lines drawn below the text
    std::chrono::steady_clock::time_point lastDrawn_;
    std::thread ticker_;
    std::condition_variable_any wake_;
    bool stop_ = false;
};
