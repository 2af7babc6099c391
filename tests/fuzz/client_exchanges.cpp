#include "fuzz/client_exchanges.h"

#include "client/server_query.h"
#include "fuzz/reply_feed.h"

#include "support/read_factory.h"

#include <boost/filesystem/operations.hpp>

#include <fstream>
#include <list>
#include <memory>
#include <stdexcept>

namespace tamsu_fuzz {

namespace {

namespace sq = tamsu::server_query;
using basecall_service::ConnectionError;

const std::string k_reference_dir = "/tmp/tamsu_fuzz_reference";
const std::string k_index_path = k_reference_dir + "/reference.fa";
const std::string k_bed_path = k_reference_dir + "/reference.bed";

void require_untouched_unless_success(tamsu::Result result, bool untouched)
{
    require(result == tamsu::Result::success || untouched, "a failed query leaves its output");
}

// Kit definitions name barcodes from the server's format and ranges: a refusal is an answer,
// anything else is not.
template <typename Name>
void try_naming(Name name)
{
    try {
        (void)name();
    } catch (const std::logic_error&) {
    }
}

void name_barcodes(const std::vector<sq::BarcodeKitDefinition>& kits)
{
    for (const auto& kit : kits) {
        for (const int outer : {kit.first_index(), kit.last_index()}) {
            for (const int inner : {kit.first_inner_index(), kit.last_inner_index()}) {
                try_naming([&] { return kit.generate_barcode_name(outer, inner); });
            }
        }
    }
}

void name_barcodes(const std::vector<sq::LampKitDefinition>& kits)
{
    for (const auto& kit : kits) {
        for (const int barcode : {kit.first_index(), kit.last_index()}) {
            try_naming([&] { return kit.generate_barcode_name(barcode); });
        }
    }
}

// The query's type picks the overload without transport security.
template <typename Kit>
void query_kits(tamsu::Result (*query)(std::vector<Kit>&, std::string, unsigned int),
                const std::string& address)
{
    std::vector<Kit> kits;
    const auto result = query(kits, address, k_reply_timeout);
    require_untouched_unless_success(result, kits.empty());
    name_barcodes(kits);
}

void query_text(tamsu::Result (*query)(std::string&, std::string, unsigned int),
                const std::string& address)
{
    std::string text;
    require_untouched_unless_success(query(text, address, k_reply_timeout), text.empty());
}

void query_statistics(const std::string& address)
{
    sq::ServerStatistics stats;
    const auto result = sq::get_server_statistics(stats, address, k_reply_timeout);
    require_untouched_unless_success(result, stats.clients.empty() && stats.stat_0 == 0 &&
                                                     stats.stat_1 == 0 && stats.stat_2 == 0 &&
                                                     stats.stat_3 == 0);
}

// Copies out every byte a dataset claims to hold, as a host taking its results would.
void copy_out(const vask::data_wrappers::DataView& view)
{
    const auto* bytes = static_cast<const std::uint8_t*>(view.data);
    const auto size = view.element_count * view.element_size;
    require(size == 0 || bytes != nullptr, "a dataset with elements has data");
    const Bytes copy(bytes, bytes + size);
}

void write_file(const std::string& path, const std::string& content)
{
    if (content.empty() && boost::filesystem::exists(path)) {
        return;
    }
    std::ofstream(path) << content;
}

}  // namespace

void run_query(std::uint8_t selector, const std::string& address)
{
    switch (selector % k_query_count) {
    case 0:
        return query_statistics(address);
    case 1:
        return query_kits<sq::BarcodeKitDefinition>(sq::get_barcode_kits, address);
    case 2:
        return query_kits<sq::LampKitDefinition>(sq::get_lamp_kits, address);
    case 3:
        return query_text(sq::get_server_information, address);
    default:
        return query_text(sq::get_server_internal_state, address);
    }
}

void write_reference_files(const std::string& fasta, const std::string& bed)
{
    boost::filesystem::create_directories(k_reference_dir);
    write_file(k_index_path, fasta);
    write_file(k_bed_path, bed);
}

ipc_tools::ConnectionInfo handshake_info(const std::string& config)
{
    ipc_tools::ConnectionInfo info;
    info.m_config_name = config;
    info.m_client_name = "fuzz";
    info.m_barcode_kits = "TOY-BC12";
    info.m_barcoding_options.m_lamp_kit = std::string("TOY-LAMP");
    info.m_alignment_index = k_index_path;
    info.m_bed_file = k_bed_path;
    info.m_alignment_type = "auto";
    return info;
}

Handshake::Handshake(const std::string& address, ipc_tools::ConnectionInfo info)
        : m_protocol(m_state)
        , m_info(std::move(info))
{
    m_protocol.set_connection_params(address, k_reply_timeout);
}

basecall_service::RequestBrokerAdapter* Handshake::connect()
{
    // No time for files to load: a LOADING reply fails the handshake at once.
    auto* adapter = m_protocol.establish_server_connection(m_info, 0);
    require(adapter || m_protocol.error_state().code != ConnectionError::no_error,
            "a failed handshake says why");
    require(!adapter || (!connection_id().empty() &&
                         m_protocol.get_config_details().config_name == m_info.m_config_name),
            "a handshake succeeds with a connection id and the configuration's details");
    return adapter;
}

PullOptions pull_options(std::uint8_t byte)
{
    return {(byte & 1) != 0, (byte & 2) != 0};
}

std::uint8_t options_byte(PullOptions options)
{
    return static_cast<std::uint8_t>((options.disable_events ? 1 : 0) +
                                     (options.pull_state_data ? 2 : 0));
}

CalledReadSession::CalledReadSession(PullOptions options, const std::string& connection_id)
{
    m_buffer.set_block_size(k_block_strides);
    m_buffer.set_max_input_queue_size(1);
    m_buffer.set_connection_id(connection_id);
    auto read = tamsu_test::make_read(k_read_tag, tamsu_test::make_samples(k_read_samples, 1),
                                      k_read_stride);
    require(m_buffer.queue_read(read, 0) == basecall_service::PassReadResult::success,
            "the read is queued");
    m_protocol.set_connection_id(connection_id);
    m_protocol.set_disable_events(options.disable_events);
    m_protocol.set_pull_state_data(options.pull_state_data);
}

void CalledReadSession::attach(basecall_service::RequestBrokerAdapter& adapter)
{
    m_protocol.stop();
    m_protocol.process_reads(&m_buffer, &adapter);
}

void CalledReadSession::assume_submitted()
{
    m_buffer.read_submitted();
}

bool CalledReadSession::push(basecall_service::RequestBrokerAdapter& adapter)
{
    attach(adapter);
    return m_protocol.push_into_server(&adapter) && m_buffer.num_submitted_reads() == 1;
}

void CalledReadSession::pull(basecall_service::RequestBrokerAdapter& adapter)
{
    attach(adapter);
    const bool pulled = m_protocol.pull_from_server(&adapter);
    require(pulled || m_protocol.error_state().code != ConnectionError::no_error,
            "a failed pull says why");
    std::list<std::unique_ptr<interfaces::ReadHolder>> reads;
    m_buffer.get_reads_out(reads);
    require(pulled || reads.empty(), "a failed pull returns no read");
    for (const auto& read : reads) {
        const auto& datasets = read->get_datasets();
        require(datasets.count(interfaces::dataset::sequence) == 1 &&
                        datasets.count(interfaces::dataset::qstring) == 1,
                "a returned read has its sequence and qualities");
        for (const auto& dataset : datasets) {
            copy_out(dataset.second);
        }
        for (const auto& key : read->get_metadata().get_keys()) {
            (void)read->get_by_name(key.name);
        }
    }
}

}  // namespace tamsu_fuzz
