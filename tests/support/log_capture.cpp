#include "support/log_capture.h"

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/make_shared.hpp>

namespace tamsu_test {

struct LogCapture::Backend
        : boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
    void consume(const boost::log::record_view& record)
    {
        using common::logging::attributes::SeverityLevel;
        CapturedRecord captured{
                boost::log::extract_or_default<SeverityLevel>("Severity", record,
                                                              SeverityLevel::trace),
                boost::log::extract_or_default<std::string>("Channel", record, std::string()),
                boost::log::extract_or_default<std::string>("Function", record, std::string()),
                boost::log::extract_or_default<std::string>("Message", record, std::string())};
        std::lock_guard<std::mutex> lock(mutex);
        records.push_back(std::move(captured));
    }

    std::mutex mutex;  // guards records
    std::vector<CapturedRecord> records;
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
    std::lock_guard<std::mutex> lock(m_backend->mutex);
    return m_backend->records;
}

}  // namespace tamsu_test
