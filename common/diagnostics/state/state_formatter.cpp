#include "common/diagnostics/state/state_formatter.h"

#include "common/tracing/trace.h"

#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <stdexcept>

namespace common::diagnostics::state {

namespace {

[[noreturn]] void invalid_type(const boost::any& value)
{
    throw std::runtime_error(std::string("invalid type held as state record value: ") +
                             value.type().name());
}

rapidjson::Value json_value(const boost::any& value, rapidjson::Document::AllocatorType& allocator)
{
    if (value.empty()) {
        return rapidjson::Value();
    }
    if (const auto* text = boost::any_cast<std::string>(&value)) {
        return rapidjson::Value(text->c_str(), static_cast<rapidjson::SizeType>(text->size()),
                                allocator);
    }
    if (const auto* flag = boost::any_cast<bool>(&value)) {
        return rapidjson::Value(*flag);
    }
    if (const auto* number = boost::any_cast<long>(&value)) {
        return rapidjson::Value(static_cast<int64_t>(*number));
    }
    if (const auto* number = boost::any_cast<unsigned long>(&value)) {
        return rapidjson::Value(static_cast<uint64_t>(*number));
    }
    if (const auto* number = boost::any_cast<double>(&value)) {
        return rapidjson::Value(*number);
    }
    invalid_type(value);
}

std::string plain_text(const boost::any& value)
{
    if (value.empty()) {
        return {};
    }
    if (const auto* text = boost::any_cast<std::string>(&value)) {
        return *text;
    }
    if (const auto* flag = boost::any_cast<bool>(&value)) {
        return *flag ? "true" : "false";
    }
    if (const auto* number = boost::any_cast<long>(&value)) {
        return std::to_string(*number);
    }
    if (const auto* number = boost::any_cast<unsigned long>(&value)) {
        return std::to_string(*number);
    }
    if (const auto* number = boost::any_cast<double>(&value)) {
        return std::to_string(*number);  // "%f"
    }
    invalid_type(value);
}

// A member of that name is replaced where it stands; otherwise one is added at the end.
void set_member(rapidjson::Value& object, const std::string& name, rapidjson::Value value,
                rapidjson::Document::AllocatorType& allocator)
{
    const auto found = object.FindMember(name.c_str());
    if (found != object.MemberEnd()) {
        found->value = std::move(value);
        return;
    }
    object.AddMember(rapidjson::Value(name.c_str(), static_cast<rapidjson::SizeType>(name.size()),
                                      allocator),
                     value, allocator);
}

}  // namespace

std::size_t read_section_to_json(rapidjson::Value& object,
                                 rapidjson::Document::AllocatorType& allocator,
                                 const std::vector<StateRecord>& records, std::size_t start)
{
    std::size_t index = start;
    while (index < records.size()) {
        const auto& record = records[index];
        switch (record.type) {
        case StateRecordType::begin_section: {
            rapidjson::Value child(rapidjson::kObjectType);
            const auto end = read_section_to_json(child, allocator, records, index + 1);
            set_member(object, record.name, std::move(child), allocator);
            index = end + 1;
            break;
        }
        case StateRecordType::end_section:
            return index;
        case StateRecordType::value:
            set_member(object, record.name, json_value(record.value, allocator), allocator);
            ++index;
            break;
        default:
            ++index;
            break;
        }
    }
    return index;
}

std::string JsonFormatter::operator()(const std::vector<StateRecord>& records) const
{
    const auto trace =
            common::tracing::TraceDomainHelper<JsonFormatter>::create_trace("operator()");
    rapidjson::Document root(rapidjson::kObjectType);
    if (read_section_to_json(root, root.GetAllocator(), records, 0) != records.size()) {
        throw std::runtime_error("malformed state_table");
    }
    rapidjson::StringBuffer buffer;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
    root.Accept(writer);
    return "\n" + std::string(buffer.GetString(), buffer.GetSize());
}

std::string IndentationFormatter::operator()(const std::vector<StateRecord>& records) const
{
    const auto trace =
            common::tracing::TraceDomainHelper<IndentationFormatter>::create_trace("operator()");
    std::string text = "\n";
    std::size_t depth = 0;
    for (const auto& record : records) {
        const std::string indent(4 * depth, ' ');
        switch (record.type) {
        case StateRecordType::value:
            text += indent + record.name + ": " + plain_text(record.value) + "\n";
            break;
        case StateRecordType::begin_section:
            text += indent + record.name + "\n";
            ++depth;
            break;
        case StateRecordType::end_section:
            if (depth == 0) {
                throw std::runtime_error("Malformed StateTable detected while formatting.");
            }
            --depth;
            break;
        default:
            break;
        }
    }
    return text;
}

}  // namespace common::diagnostics::state
