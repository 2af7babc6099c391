#pragma once

#include "tools/input_sequence.h"

#include <atomic>
#include <string>
#include <unordered_map>

namespace tamsu_cli {

// The reads of a run's inputs less those a resumed run had written already: of each id, as many
// reads as were written, the first ones met. Skipped reads are counted in as the inputs count
// them (duplicate ids included) and are given back at once. next() and name() belong to one
// thread, skipped() to any.
class FinishedReadSkipper : public RawReadSource {
public:
    FinishedReadSkipper(InputSequence& inputs,
                        std::unordered_map<std::string, unsigned long> finished);

    bool next(RawRead& read) override;
    const std::string& name() const override { return m_inputs.name(); }
    std::vector<std::string> run_ids() const override { return m_inputs.run_ids(); }

    unsigned long skipped() const { return m_skipped; }

private:
    InputSequence& m_inputs;
    std::unordered_map<std::string, unsigned long> m_finished;
    std::atomic<unsigned long> m_skipped{0};
};

}  // namespace tamsu_cli
