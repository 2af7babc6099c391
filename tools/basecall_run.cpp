#include "tools/basecall_run.h"

#include "client/server_query.h"
#include "client/tamsu_client.h"
#include "tools/client_pool.h"
#include "tools/embedded_server.h"
#include "tools/finished_read_skipper.h"
#include "tools/input_error.h"
#include "tools/input_paths.h"
#include "tools/interrupt_flag.h"
#include "tools/progress_meter.h"
#include "tools/raw_read_source.h"
#include "tools/read_ahead.h"
#include "tools/read_feeder.h"
#include "tools/result_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace tamsu_cli {

namespace {

constexpr auto k_idle_wait = std::chrono::milliseconds(2);
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

RecordFormat record_format(const BasecallOptions& options)
{
    return options.emit_fastq ? RecordFormat::fastq
           : options.emit_sam ? RecordFormat::sam
                              : RecordFormat::bam;
}

// A read group per run the inputs declare, and one per input with reads of no declared run.
RecordHeader record_header(tamsu::TamsuClient& client, const BasecallOptions& options,
                           const RawReadSource& inputs)
{
    RecordHeader header;
    if (!options.index.empty()) {
        client.get_alignment_sam_header(header.index_header);
    }
    auto& groups = header.read_groups;
    for (const auto& run_id : inputs.run_ids()) {
        // Read groups of one run share its id; a header names each group once.
        if (std::find(groups.begin(), groups.end(), run_id) == groups.end()) {
            groups.push_back(run_id);
        }
    }
    header.version = tamsu::TamsuClient::get_software_version().text;
    header.command_line = options.command_line;
    return header;
}

// The options' settings, then each input file with its size and modification time, so that a
// changed or replaced file is not taken for the one an interrupted run read.
RunSettings run_settings(RunSettings settings, const std::vector<std::string>& paths)
{
    for (const auto& path : paths) {
        if (path == "-") {
            settings.emplace_back("input", "standard input");
            continue;
        }
        const auto modified = std::filesystem::last_write_time(path).time_since_epoch();
        settings.emplace_back("input", std::filesystem::canonical(path).string() + " (" +
                                               std::to_string(std::filesystem::file_size(path)) +
                                               " bytes, modified " +
                                               std::to_string(modified.count()) + ")");
    }
    return settings;
}

}  // namespace

BasecallRun::BasecallRun(BasecallOptions options, std::ostream& out, std::ostream& err)
        : m_options(std::move(options))
        , m_out(out)
        , m_err(err)
{
}

BasecallRun::~BasecallRun() = default;

int BasecallRun::run()
{
    m_start = std::chrono::steady_clock::now();
    InterruptFlag::install();
    try {
        if (!m_options.servers.empty()) {
            return run_with(m_options.servers);
        }
        EmbeddedServer server;
        return run_with({server.address()});
    } catch (const std::exception& error) {
        m_err << "tamsu: " << error.what() << "\n";
        return 1;
    }
}

std::string BasecallRun::server_name(const std::string& address) const
{
    return m_options.servers.empty() ? "the embedded server" : "server " + address;
}

int BasecallRun::run_with(const std::vector<std::string>& addresses)
{
    auto paths = InputPaths::expand(m_options.inputs, m_options.recursive);
    for (const auto& path : paths) {
        ResultWriter::check_input(m_options.output_dir, path);
    }
    const auto settings = run_settings(m_options.output_settings, paths);
    m_inputs.emplace(std::move(paths));
    std::vector<ClientPool::Server> servers;
    for (const auto& address : addresses) {
        servers.push_back({address, server_name(address)});
    }
    m_clients = std::make_unique<ClientPool>(m_options, servers, m_err);
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        if (!connect(index, addresses[index])) {
            return 1;
        }
    }
    // Should the directory be unusable, the clients' destructors end the connections.
    const auto writer =
            open_outputs(settings, record_header(m_clients->client(0), m_options, *m_inputs));
    FinishedReadSkipper unfinished(*m_inputs, std::move(m_finished));
    // Decoding runs ahead on a thread of its own, beside the one that passes reads on.
    ReadAhead reader(unfinished);
    ReadFeeder feeder(reader, *m_clients);
    return basecall(feeder, *writer, unfinished);
}

std::unique_ptr<ResultWriter> BasecallRun::open_outputs(const RunSettings& settings,
                                                        const RecordHeader& header)
{
    const auto& directory = m_options.output_dir;
    const auto format = record_format(m_options);
    const auto journal =
            m_options.resume ? RunJournal::read(RunJournal::path_in(directory)) : std::nullopt;
    if (journal) {
        const auto difference = first_difference(journal->settings, settings);
        if (!difference.empty()) {
            throw std::runtime_error("cannot resume the run in " + directory +
                                     ", its settings differ: " + difference);
        }
        if (auto point = ResultWriter::resume_point(directory, format, journal->checkpoints)) {
            m_err << "tamsu: resuming the run in " << directory << ": " << point->totals.reads
                  << " reads were written already\n";
            m_finished = std::move(point->finished);
            return std::make_unique<ResultWriter>(directory, format, header, *point);
        }
    }
    if (m_options.resume) {
        m_err << "tamsu: nothing to resume in " << directory << ", starting afresh\n";
    }
    return std::make_unique<ResultWriter>(directory, format, header, settings);
}

bool BasecallRun::connect(std::size_t index, const std::string& address)
{
    auto& client = m_clients->client(index);
    tamsu::Result result = tamsu::Result::failed;
    std::string message = missing_file();
    if (message.empty()) {
        try {
            result = m_clients->connect(index);
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

int BasecallRun::basecall(ReadFeeder& feeder, ResultWriter& writer,
                          const FinishedReadSkipper& skipped)
{
    ProgressMeter progress(m_err, isatty(STDERR_FILENO) == 1);
    const auto write = [&](const tamsu::Read& read) {
        auto called = CalledRead::from_read(read);
        called.source_file = m_inputs->take_source(called.read_id);
        writer.write(called);
        progress.update(writer.totals().reads);
    };
    feeder.start();
    std::string reason;
    while (reason.empty() && !m_clients->done()) {
        if (m_clients->step(feeder.done(), write) == 0) {
            std::this_thread::sleep_for(k_idle_wait);
        }
        reason = stop_reason(feeder, writer);
    }
    feeder.stop();
    if (!reason.empty()) {
        m_clients->stop(write);
    }
    progress.finish();
    return conclude(reason.empty(), reason, writer, feeder.passed() + skipped.skipped());
}

std::string BasecallRun::stop_reason(const ReadFeeder& feeder, const ResultWriter& writer) const
{
    if (InterruptFlag::raised()) {
        return "interrupted";
    }
    if (!writer.error().empty()) {
        return writer.error();
    }
    const auto failure = m_clients->failure();
    return failure.empty() ? feeder.error() : failure;
}

int BasecallRun::conclude(bool complete, std::string reason, ResultWriter& writer,
                          unsigned long reads_in)
{
    warn_of_duplicates();
    if (complete && writer.totals().reads == reads_in) {
        try {
            writer.commit();
            print_summary(writer, reads_in, true);
            return 0;
        } catch (const std::runtime_error& error) {
            reason = error.what();
        }
    }
    m_err << "tamsu: basecalling did not complete: "
          << (reason.empty() ? "reads are missing" : reason) << "\n"
          << "tamsu: the output is incomplete and was left as " << join(writer.paths())
          << "; the same command with --resume goes on from there\n";
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
    const auto paths = writer.paths();
    m_out << "  reads:         " << paths[0] << "\n";
    m_out << "  summary:       " << paths[1] << "\n";
    print_servers();
}

void BasecallRun::print_servers()
{
    const auto counts = m_clients->reads_by_server();
    for (const auto& loss : m_clients->losses()) {
        // A lone server's loss is the run's failure, told as such.
        if (loss.server_lost && counts.size() == 1) {
            continue;
        }
        m_out << (loss.server_lost ? "  lost:          " : "  dropped reads: ") << loss.server
              << ", " << loss.reads_moved << " reads passed again\n";
    }
    for (std::size_t index = 0; counts.size() > 1 && index < counts.size(); ++index) {
        m_out << (index == 0 ? "  reads from:    " : "                 ") << counts[index].first
              << ": " << counts[index].second << "\n";
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
