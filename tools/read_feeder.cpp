#include "tools/read_feeder.h"

#include "client/tamsu_client.h"
#include "tools/input_error.h"
#include "tools/raw_read_source.h"

namespace tamsu_cli {

namespace {

// Short enough to notice a stop request quickly, long enough not to spin.
constexpr unsigned long k_pass_wait_ms = 100;

tamsu::Read make_read(RawRead& raw, unsigned long tag)
{
    tamsu::Read read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", raw.read_id);
    if (!raw.run_id.empty()) {
        // Stays with the read for its output records; it does not travel to the server.
        metadata.insert("run_id", raw.run_id);
    }
    metadata.insert("daq_offset", raw.daq_offset);
    metadata.insert("daq_scaling", raw.daq_scaling);
    read.get_datasets().emplace(interfaces::dataset::raw_data,
                                vask::data_wrappers::DataView(raw.samples, true));
    return read;
}

}  // namespace

ReadFeeder::ReadFeeder(RawReadSource& reader, tamsu::TamsuClient& client)
        : m_reader(reader)
        , m_client(client)
{
}

ReadFeeder::~ReadFeeder()
{
    stop();
}

void ReadFeeder::start()
{
    m_thread = std::thread([this] { run(); });
}

void ReadFeeder::stop()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

std::string ReadFeeder::error() const
{
    std::lock_guard<std::mutex> lock(m_error_mutex);
    return m_error;
}

void ReadFeeder::fail(const std::string& message)
{
    std::lock_guard<std::mutex> lock(m_error_mutex);
    m_error = message;
}

void ReadFeeder::run()
{
    try {
        feed();
    } catch (const std::exception& error) {
        fail(error.what());
    }
    m_done = true;
}

void ReadFeeder::feed()
{
    RawRead raw;
    while (!m_stop && m_reader.next(raw)) {
        // Tags only need to be unique among reads in flight and fit in 32 bits.
        auto read = make_read(raw, m_passed & 0xffffffffUL);
        if (!pass(read)) {
            return;
        }
        ++m_passed;
    }
}

bool ReadFeeder::pass(tamsu::Read& read)
{
    while (!m_stop) {
        const auto result = m_client.pass_read(read, k_pass_wait_ms);
        if (result == tamsu::PassReadResult::success) {
            return true;
        }
        if (result != tamsu::PassReadResult::queue_full) {
            std::string reason;
            m_client.validate_read(read, reason);
            fail("the client refused read " + read.get_by_name("read_id") + ": " +
                 tamsu::to_string(result) + (reason.empty() ? "" : " (" + reason + ")"));
            return false;
        }
    }
    return false;
}

}  // namespace tamsu_cli
