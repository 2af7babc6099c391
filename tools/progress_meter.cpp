#include "tools/progress_meter.h"

#include <cstdio>

namespace tamsu_cli {

ProgressMeter::ProgressMeter(std::ostream& stream, bool enabled)
        : m_stream(stream)
        , m_enabled(enabled)
        , m_start(Clock::now())
        , m_last_draw(m_start)
{
}

void ProgressMeter::update(unsigned long reads_done)
{
    const auto now = Clock::now();
    if (!m_enabled || now - m_last_draw < std::chrono::milliseconds(500)) {
        return;
    }
    m_last_draw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    char line[96];
    std::snprintf(line, sizeof(line), "\r%lu reads done, %.0f reads/s   ", reads_done,
                  seconds > 0 ? static_cast<double>(reads_done) / seconds : 0.0);
    m_stream << line << std::flush;
    m_drawn = true;
}

void ProgressMeter::finish()
{
    if (m_drawn) {
        m_stream << "\r" << std::string(60, ' ') << "\r" << std::flush;
        m_drawn = false;
    }
}

}  // namespace tamsu_cli
