#include "client/read.h"

#include "interfaces/read_alignment_helper.h"

namespace tamsu {

Read::Read()
        : m_holder(std::make_unique<interfaces::ReadHolder>())
{
}

Read::Read(Read&& other) noexcept = default;
Read& Read::operator=(Read&& other) noexcept = default;
Read::~Read() = default;

unsigned long Read::get_read_tag() const
{
    return m_holder->get_read_tag();
}

void Read::set_read_tag(unsigned long tag)
{
    m_holder->set_read_tag(tag);
}

Read::Priority Read::get_priority() const
{
    const auto stored = m_holder->get_priority();
    return stored <= LOW_PRIORITY ? static_cast<Priority>(stored) : INVALID_PRIORITY;
}

void Read::set_priority(Priority priority)
{
    if (priority == INVALID_PRIORITY) {
        m_holder->set_priority(MEDIUM_PRIORITY);
    } else if (priority >= HIGH_PRIORITY && priority <= LOW_PRIORITY) {
        m_holder->set_priority(static_cast<std::uint32_t>(priority));
    }
}

vask::data_wrappers::Metadata& Read::get_metadata()
{
    return m_holder->get_metadata();
}

const vask::data_wrappers::Metadata& Read::get_metadata() const
{
    return m_holder->get_metadata();
}

std::map<interfaces::dataset, vask::data_wrappers::DataView>& Read::get_datasets()
{
    return m_holder->get_datasets();
}

const std::map<interfaces::dataset, vask::data_wrappers::DataView>& Read::get_datasets() const
{
    return m_holder->get_datasets();
}

interfaces::ReadHolder& Read::get_readholder()
{
    return *m_holder;
}

const interfaces::ReadHolder& Read::get_readholder() const
{
    return *m_holder;
}

void Read::set_readholder(interfaces::ReadHolder& holder)
{
    m_holder = std::make_unique<interfaces::ReadHolder>(std::move(holder));
}

void Read::clear()
{
    m_holder->clear();
}

std::string Read::get_by_name(const std::string& name) const
{
    return m_holder->get_by_name(name);
}

bool Read::has_alignment_data() const
{
    return interfaces::ReadAlignmentHelper::read_holder_contains_alignment_data(*m_holder);
}

std::vector<Read::AlignmentSamLine> Read::extract_alignment_sam_and_bed_lines() const
{
    std::vector<AlignmentSamLine> lines;
    for (auto& line :
         interfaces::ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(
                 *m_holder)) {
        lines.push_back({std::move(line.sam_record), std::move(line.bed_lines)});
    }
    return lines;
}

std::string to_string(Read::Priority priority)
{
    switch (priority) {
    case Read::HIGH_PRIORITY:
        return "HIGH_PRIORITY";
    case Read::MEDIUM_PRIORITY:
        return "MEDIUM_PRIORITY";
    case Read::LOW_PRIORITY:
        return "LOW_PRIORITY";
    default:
        return "invalid_priority_value";
    }
}

}  // namespace tamsu
