#include "common/tracing/trace.h"

#include <cxxabi.h>

#include <cstdlib>
#include <utility>

namespace common::tracing {

namespace details {

std::shared_ptr<TraceContext> create_trace_context(const std::string& /*domain_name*/)
{
    static const std::shared_ptr<TraceContext> disabled = std::make_shared<DisabledTraceContext>();
    return disabled;
}

namespace {
void erase_all(std::string& text, const std::string& word)
{
    for (auto pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos)) {
        text.erase(pos, word.size());
    }
}
}  // namespace

std::string domain_name_of(const std::type_info& type)
{
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(
            abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), &std::free);
    std::string name = (status == 0 && demangled) ? demangled.get() : type.name();
    erase_all(name, "class ");
    erase_all(name, "struct ");
    return name;
}

}  // namespace details

Trace::Trace(std::shared_ptr<details::TraceContext> context, std::string name, bool timed)
        : m_context(std::move(context))
        , m_name(std::move(name))
        , m_timed(timed)
        , m_start(timed ? std::chrono::system_clock::now()
                        : std::chrono::system_clock::time_point())
{
    m_context->write_entry(m_name);
}

Trace::~Trace()
{
    if (m_timed) {
        m_context->write_exit(m_name, std::chrono::system_clock::now() - m_start);
    } else {
        m_context->write_exit(m_name);
    }
}

void Trace::message(const std::string& text) const
{
    m_context->write_message(m_name, text);
}

void Trace::message(std::function<std::string()> producer) const
{
    m_context->write_message(m_name, std::move(producer));
}

void Trace::timed_message(const std::string& text) const
{
    if (m_timed) {
        m_context->write_message(m_name, text, std::chrono::system_clock::now() - m_start);
    } else {
        m_context->write_message(m_name, text);
    }
}

}  // namespace common::tracing
