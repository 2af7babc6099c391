#pragma once

#include "common/diagnostics/state/state_logger.h"
#include "common/diagnostics/state/state_record.h"

#include <vector>

namespace common::diagnostics::state::detail {

// Appends every write to a record list; sections nest as the handles' lifetimes nest.
class ConcreteStateLogger final : public StateLogger {
public:
    explicit ConcreteStateLogger(std::vector<StateRecord>& records);

    using StateLogger::log;
    void log(std::string name, std::string value) override;
    void log(std::string name, bool value) override;
    void log(std::string name, long value) override;
    void log(std::string name, unsigned long value) override;
    void log(std::string name, double value) override;
    std::unique_ptr<ChildSection> create_child_section(std::string name) override;

private:
    std::vector<StateRecord>& m_records;
};

}  // namespace common::diagnostics::state::detail
