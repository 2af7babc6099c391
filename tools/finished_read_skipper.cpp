#include "tools/finished_read_skipper.h"

namespace tamsu_cli {

FinishedReadSkipper::FinishedReadSkipper(InputSequence& inputs,
                                         std::unordered_map<std::string, unsigned long> finished)
        : m_inputs(inputs)
        , m_finished(std::move(finished))
{
}

bool FinishedReadSkipper::next(RawRead& read)
{
    while (m_inputs.next(read)) {
        const auto finished = m_finished.find(read.read_id);
        if (finished == m_finished.end()) {
            return true;
        }
        if (--finished->second == 0) {
            m_finished.erase(finished);
        }
        m_inputs.take_source(read.read_id);
        ++m_skipped;
    }
    return false;
}

}  // namespace tamsu_cli
