#pragma once

#include <chrono>
#include <ostream>

namespace tamsu_cli {

// A one-line progress display (reads done, reads per second), redrawn in place at most twice a
// second. Disabled, it writes nothing: progress is for a person watching a terminal.
class ProgressMeter {
public:
    ProgressMeter(std::ostream& stream, bool enabled);

    void update(unsigned long reads_done);
    // Clears the line.
    void finish();

private:
    using Clock = std::chrono::steady_clock;

    std::ostream& m_stream;
    bool m_enabled;
    Clock::time_point m_start;
    Clock::time_point m_last_draw;
    bool m_drawn = false;
};

}  // namespace tamsu_cli
