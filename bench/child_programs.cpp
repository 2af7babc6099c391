#include "child_programs.h"

#include <sched.h>

#include <stdexcept>

namespace bench {

namespace {

void set_affinity(const cpu_set_t& cpus)
{
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0) {
        throw std::runtime_error("cannot set the CPU affinity");
    }
}

cpu_set_t only(int cpu)
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    CPU_SET(cpu, &cpus);
    return cpus;
}

// Puts the calling thread on `cpu` while it lives, so that a program started meanwhile
// inherits the placement; the thread's own placement comes back afterwards.
class AffinityScope {
public:
    explicit AffinityScope(std::optional<int> cpu)
            : m_changed(cpu.has_value())
    {
        if (m_changed) {
            sched_getaffinity(0, sizeof m_saved, &m_saved);
            set_affinity(only(*cpu));
        }
    }
    ~AffinityScope()
    {
        if (m_changed) {
            sched_setaffinity(0, sizeof m_saved, &m_saved);
        }
    }
    AffinityScope(const AffinityScope&) = delete;
    AffinityScope& operator=(const AffinityScope&) = delete;

private:
    bool m_changed;
    cpu_set_t m_saved{};
};

}  // namespace

program_support::ChildSetup piped_output()
{
    program_support::ChildSetup setup;
    setup.output_to_pipe = true;
    setup.stop_grace = std::chrono::seconds(5);
    return setup;
}

std::unique_ptr<program_support::ChildProcess>
start_listening(const std::string& program, const std::vector<std::string>& arguments,
                std::optional<int> cpu)
{
    std::unique_ptr<program_support::ChildProcess> child;
    {
        const AffinityScope placed(cpu);
        child = std::make_unique<program_support::ChildProcess>(program, arguments, piped_output());
    }
    if (program_support::listening_endpoint(*child, std::chrono::milliseconds::max()).empty()) {
        throw std::runtime_error(program + " did not start listening");
    }
    return child;
}

PinnedCpus pin_clients()
{
    cpu_set_t usable;
    CPU_ZERO(&usable);
    sched_getaffinity(0, sizeof usable, &usable);
    std::vector<int> cpus;
    for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu) {
        if (CPU_ISSET(cpu, &usable)) {
            cpus.push_back(cpu);
        }
    }
    if (cpus.size() < 2) {
        throw std::runtime_error("pinning needs two CPUs");
    }
    const PinnedCpus pinned{cpus[0], cpus[1]};
    set_affinity(only(pinned.clients));
    return pinned;
}

}  // namespace bench
