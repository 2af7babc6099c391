#include "tools/basecall_run.h"

#include "client/server_query.h"
#include "client/tamsu_client.h"
#include "tools/embedded_server.h"
#include "tools/input_error.h"
#include "tools/input_paths.h"
#include "tools/interrupt_flag.h"
#include "tools/progress_meter.h"
#include "tools/read_ahead.h"
#include "tools/read_feeder.h"
#include "tools/result_writer.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <future>
#include <list>
#include <thread>

namespace tamsu_cli {

namespace {

constexpr auto k_idle_wait = std::chrono::milliseconds(2);
constexpr auto k_finish_poll = std::chrono::milliseconds(20);
// The client's own request time-out, for a query when --timeout was not given.
constexpr unsigned int k_default_timeout_ms = 2000;

std::string format_fixed(double value, int decimals)
{
    char text[48];
    std::snprintf(text, sizeof(text), "%.*f", decimals, value);
    return text;
}

std::string join(const std::vector<std::string>& items)
{
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

// The index's header, and this program as the one that wrote the records.
std::string sam_header(tamsu::TamsuClient& client)
{
    std::string header;
    client.get_alignment_sam_header(header);
    return header +
           "@PG\tID:tamsu\tPN:tamsu\tVN:" + tamsu::TamsuClient::get_software_version().text + "\n";
}

}  // namespace

BasecallRun::BasecallRun(BasecallOptions options, std::ostream& out, std::ostream& err)
        : m_options(std::move(options))
        , m_out(out)
        , m_err(err)
{
}

int BasecallRun::run()
{
    m_start = std::chrono::steady_clock::now();
    InterruptFlag::install();
    try {
        if (!m_options.server.empty()) {
            return run_with(m_options.server);
        }
        EmbeddedServer server;
        return run_with(server.address());
    } catch (const std::exception& error) {
        m_err << "tamsu: " << error.what() << "\n";
        return 1;
    }
}

std::string BasecallRun::server_name(const std::string& address) const
{
    return m_options.server.empty() ? "the embedded server" : "server " + address;
}

int BasecallRun::run_with(const std::string& address)
{
    m_inputs.emplace(InputPaths::expand(m_options.inputs, m_options.recursive));
    // Before the client, whose handler refers to it.
    m_watch.emplace(server_name(address), m_err);
    tamsu::TamsuClient client(address, m_options.config);
    auto failed_setter = m_options.apply_to(client);
    if (failed_setter.empty() &&
        client.set_state_change_handler(m_watch->handler()) != tamsu::Result::success) {
        failed_setter = "set_state_change_handler";
    }
    if (!failed_setter.empty()) {
        m_err << "tamsu: the client refused a parameter (" << failed_setter << ")\n";
        return 1;
    }
    if (!connect(client, address)) {
        return 1;
    }
    const bool with_sam = !m_options.index.empty();
    // Should the directory be unusable, the client's destructor ends the connection.
    ResultWriter writer(m_options.output_dir, with_sam, with_sam ? sam_header(client) : "");
    // Decoding runs ahead on a thread of its own, beside the one that passes reads on.
    ReadAhead reader(*m_inputs);
    ReadFeeder feeder(reader, client);
    return basecall(client, feeder, writer);
}

bool BasecallRun::connect(tamsu::TamsuClient& client, const std::string& address)
{
    tamsu::Result result = tamsu::Result::failed;
    std::string message = missing_file();
    if (message.empty()) {
        try {
            result = m_watch->connect(client);
            message = client.get_error_message();
        } catch (const std::exception& error) {
            message = error.what();
        }
    }
    if (result == tamsu::Result::success) {
        return true;
    }
    if (InterruptFlag::raised()) {
        m_err << "tamsu: interrupted while connecting to " << server_name(address) << "\n";
    } else {
        m_err << "tamsu: cannot connect to " << server_name(address) << " (configuration "
              << m_options.config << "): " << connect_failure(result, message, address) << "\n";
    }
    client.disconnect();
    return false;
}

std::string BasecallRun::connect_failure(tamsu::Result result, std::string message,
                                         const std::string& address) const
{
    if (result == tamsu::Result::barcode_kit_unavailable) {
        const auto lamp = unknown_lamp_kit(address);
        message = lamp.empty() ? message : lamp;
    }
    // The client's message starts with the result code in brackets; other failures lack it.
    if (message.empty() || message.front() != '[') {
        message = tamsu::to_string(result) + (message.empty() ? "" : ": " + message);
    }
    return message;
}

std::string BasecallRun::missing_file() const
{
    for (const auto& [what, path] :
         {std::pair<const char*, const std::string&>{"alignment index", m_options.index},
          {"BED file", m_options.bed}}) {
        if (!path.empty() && !std::filesystem::exists(path)) {
            return std::string("the ") + what + " '" + path + "' does not exist";
        }
    }
    return {};
}

std::string BasecallRun::unknown_lamp_kit(const std::string& address) const
{
    if (m_options.lamp_kit.empty()) {
        return {};
    }
    std::vector<tamsu::server_query::LampKitDefinition> kits;
    const auto timeout =
            static_cast<unsigned int>(m_options.timeout_ms.value_or(k_default_timeout_ms));
    if (tamsu::server_query::get_lamp_kits(kits, address, timeout) != tamsu::Result::success) {
        return {};
    }
    for (const auto& kit : kits) {
        if (kit.kit_name() == m_options.lamp_kit) {
            return {};
        }
    }
    return "[barcode_kit_unavailable] the server has no LAMP kit '" + m_options.lamp_kit + "'";
}

int BasecallRun::basecall(tamsu::TamsuClient& client, ReadFeeder& feeder, ResultWriter& writer)
{
    ProgressMeter progress(m_err, isatty(STDERR_FILENO) == 1);
    feeder.start();
    std::string reason;
    // Collects until every read passed is back, so that finish only ends the connection: it
    // looks for missing reads at long intervals, a wait as long as a short run.
    while (reason.empty() && !(feeder.done() && writer.totals().reads >= feeder.passed())) {
        m_watch->report_reconnection(client);
        if (collect(client, writer, progress) == 0) {
            std::this_thread::sleep_for(k_idle_wait);
        }
        reason = stop_reason(client, feeder);
    }
    feeder.stop();
    reason = stop_reason(client, feeder);
    bool complete = false;
    if (reason.empty()) {
        complete = finish(client, writer, progress);
        reason = stop_reason(client, feeder);
    } else {
        client.disconnect();
        collect(client, writer, progress);
    }
    progress.finish();
    return conclude(complete, reason, writer, feeder.passed());
}

std::size_t BasecallRun::collect(tamsu::TamsuClient& client, ResultWriter& writer,
                                 ProgressMeter& progress)
{
    std::list<tamsu::Read> reads;
    client.get_completed_reads(reads);
    for (const auto& read : reads) {
        auto called = CalledRead::from_read(read);
        called.source_file = m_inputs->take_source(called.read_id);
        writer.write(called);
    }
    progress.update(writer.totals().reads);
    return reads.size();
}

std::string BasecallRun::stop_reason(tamsu::TamsuClient& client, const ReadFeeder& feeder) const
{
    if (InterruptFlag::raised()) {
        return "interrupted";
    }
    if (client.get_status() == tamsu::ConnectionStatus::error) {
        return "the connection failed: " + client.get_error_message();
    }
    return feeder.error();
}

bool BasecallRun::finish(tamsu::TamsuClient& client, ResultWriter& writer, ProgressMeter& progress)
{
    // finish blocks until every read is back; keep writing what arrives meanwhile.
    auto finishing = std::async(std::launch::async, [&client] { return client.finish(0); });
    bool stopped = false;
    while (finishing.wait_for(k_finish_poll) != std::future_status::ready) {
        m_watch->report_reconnection(client);
        collect(client, writer, progress);
        if (InterruptFlag::raised() && !stopped) {
            // Ends the wait in finish, which then reports the reads still out.
            client.disconnect();
            stopped = true;
        }
    }
    const auto result = finishing.get();
    collect(client, writer, progress);
    return result == tamsu::Result::success;
}

int BasecallRun::conclude(bool complete, const std::string& reason, ResultWriter& writer,
                          unsigned long reads_in)
{
    complete = complete && writer.totals().reads == reads_in;
    warn_of_duplicates();
    if (complete) {
        writer.commit();
        print_summary(writer, reads_in, true);
        return 0;
    }
    m_err << "tamsu: basecalling did not complete: "
          << (reason.empty() ? "reads are missing" : reason) << "\n"
          << "tamsu: the output is incomplete and was left as " << join(writer.paths(false))
          << "\n";
    print_summary(writer, reads_in, false);
    return 1;
}

void BasecallRun::print_summary(ResultWriter& writer, unsigned long reads_in, bool complete)
{
    const auto& totals = writer.totals();
    const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    m_out << (complete ? "Basecalling complete\n" : "Basecalling INCOMPLETE\n");
    m_out << "  reads in:      " << reads_in << "\n";
    m_out << "  reads called:  " << totals.called;
    if (totals.not_called != 0) {
        m_out << " (" << totals.not_called
              << " not called: shorter than 20 model strides, listed in the summary)";
    }
    if (m_inputs->duplicates() != 0) {
        m_out << "\n  duplicate ids: " << m_inputs->duplicates();
    }
    m_out << "\n  bases:         " << totals.bases << "\n";
    m_out << "  mean quality:  " << format_fixed(totals.mean_qscore(), 2) << "\n";
    m_out << "  time:          " << format_fixed(seconds, 1) << " s ("
          << format_fixed(seconds > 0 ? totals.reads / seconds : 0.0, 0) << " reads/s)\n";
    const auto paths = writer.paths(complete);
    m_out << "  FASTQ:         " << paths[0] << "\n";
    m_out << "  summary:       " << paths[1] << "\n";
    if (paths.size() > 2) {
        m_out << "  SAM:           " << paths[2] << "\n";
    }
}

void BasecallRun::warn_of_duplicates()
{
    const auto count = m_inputs->duplicates();
    if (count == 0) {
        return;
    }
    const auto named = m_inputs->duplicate_ids();
    m_err << "tamsu: warning: " << count << (count == 1 ? " read has" : " reads have")
          << " the id of an earlier read: " << join(named) << (count > named.size() ? ", ..." : "")
          << "\n";
}

}  // namespace tamsu_cli
