#include "support/log_capture.h"

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/make_shared.hpp>

namespace tamsu_test {

class LogCapture::Backend
        : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
public:
    void consume(const boost::log::record_view& record)
    {
        using common::logging::attributes::SeverityLevel;
        CapturedRecord captured{
                boost::log::extract_or_default<SeverityLevel>("Severity", record,
                                                              SeverityLevel::trace),
                boost::log::extract_or_default<std::string>("Channel", record, std::string()),
                boost::log::extract_or_default<std::string>("Function", record, std::string()),
                boost::log::extract_or_default<std::string>("Message", record, std::string())};
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(std::move(captured));
    }

    std::vector<CapturedRecord> records() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }

private:
    mutable std::mutex m_mutex;  // guards m_records
    std::vector<CapturedRecord> m_records;
};

LogCapture::LogCapture()
        : m_backend(boost::make_shared<Backend>())
        , m_sink(boost::make_shared<Sink>(m_backend))
{
    boost::log::core::get()->add_sink(m_sink);
}

LogCapture::~LogCapture()
{
    boost::log::core::get()->remove_sink(m_sink);
}

std::vector<CapturedRecord> LogCapture::records() const
{
    return m_backend->records();
}

}  // namespace tamsu_test
