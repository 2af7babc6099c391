#include "interfaces/read_holder.h"

#include "common/value_formatter.h"

#include <utility>

namespace interfaces {

ReadHolder::ReadHolder() = default;

ReadHolder::ReadHolder(ReadHolder&& other)
        : m_read_tag(other.m_read_tag)
        , m_priority(other.m_priority)
        , m_metadata(std::move(other.m_metadata))
        , m_datasets(std::move(other.m_datasets))
{
    other.clear();
}

ReadHolder& ReadHolder::operator=(ReadHolder&& other)
{
    if (this != &other) {
        m_read_tag = other.m_read_tag;
        m_priority = other.m_priority;
        m_metadata = std::move(other.m_metadata);
        m_datasets = std::move(other.m_datasets);
        other.clear();
    }
    return *this;
}

ReadHolder::~ReadHolder() = default;

void ReadHolder::clear()
{
    m_read_tag = 0;
    m_priority = 1;
    m_metadata.clear();
    m_datasets.clear();
}

std::string ReadHolder::get_by_name(const std::string& name) const
{
    // Hosts write these texts into tabular summaries, where special values read as 0.
    static const common::ValueFormatter formatter(-1, -1, "0", "0", "0", "", "TRUE", "FALSE",
                                                  false);
    const boost::any* value = m_metadata.get_any(name);
    if (value == nullptr) {
        return {};
    }
    return formatter.format_any(*value);
}

}  // namespace interfaces
