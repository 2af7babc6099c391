#include "common/diagnostics/state/concrete_state_logger.h"

namespace common::diagnostics::state::detail {

namespace {

class ScopedSection final : public ChildSection {
public:
    ScopedSection(std::vector<StateRecord>& records, std::string name)
            : m_records(records)
            , m_name(std::move(name))
    {
    }
    ~ScopedSection() override
    {
        m_records.push_back({StateRecordType::end_section, std::move(m_name), {}});
    }

private:
    std::vector<StateRecord>& m_records;
    std::string m_name;
};

}  // namespace

ConcreteStateLogger::ConcreteStateLogger(std::vector<StateRecord>& records)
        : m_records(records)
{
}

void ConcreteStateLogger::log(std::string name, std::string value)
{
    m_records.push_back({StateRecordType::value, std::move(name), std::move(value)});
}

void ConcreteStateLogger::log(std::string name, bool value)
{
    m_records.push_back({StateRecordType::value, std::move(name), value});
}

void ConcreteStateLogger::log(std::string name, long value)
{
    m_records.push_back({StateRecordType::value, std::move(name), value});
}

void ConcreteStateLogger::log(std::string name, unsigned long value)
{
    m_records.push_back({StateRecordType::value, std::move(name), value});
}

void ConcreteStateLogger::log(std::string name, double value)
{
    m_records.push_back({StateRecordType::value, std::move(name), value});
}

std::unique_ptr<ChildSection> ConcreteStateLogger::create_child_section(std::string name)
{
    m_records.push_back({StateRecordType::begin_section, name, {}});
    return std::make_unique<ScopedSection>(m_records, std::move(name));
}

}  // namespace common::diagnostics::state::detail
