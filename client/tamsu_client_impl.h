#pragma once

#include "basecall_service/basecall_client.h"
#include "client/tamsu_client.h"
#include "common/diagnostics/state/state_context.h"
#include "common/tracing/trace.h"
#include "interfaces/barcoding_options.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace tamsu {

// Keeps the parameters a host sets while disconnected, builds a fresh engine on every connect
// and translates the engine's states into public results.
class TamsuClientImpl : public common::diagnostics::state::StateProvider,
                        private common::tracing::TraceDomain<TamsuClientImpl> {
public:
    TamsuClientImpl(std::string address, std::string config_name);
    ~TamsuClientImpl() override;

    // Stores `value` into `member` unless a connection exists (already_connected).
    template <typename Member, typename Value>
    Result set(const char* setter, Member& member, Value value, const std::string& value_text)
    {
        write_trace(setter, value_text);
        if (get_status() != ConnectionStatus::disconnected) {
            return Result::already_connected;
        }
        member = std::move(value);
        return Result::success;
    }

    ConnectionStatus get_status() const;
    Result connect();
    Result disconnect();
    Result finish(unsigned long timeout_s);
    PassReadResult pass_read(Read& read, unsigned long timeout_ms);
    void get_completed_reads(std::list<Read>& reads);
    bool validate_read(const Read& read, std::string& error_message) const;
    std::string get_error_message() const;
    Result get_basecalling_config(vask::data_wrappers::Metadata& config);
    Result get_alignment_sam_header(std::string& header);

    void report_state(common::diagnostics::state::StateLogger& logger) const override;

    // Parameters, written by the setters while disconnected.
    Read::Priority m_priority = Read::MEDIUM_PRIORITY;
    unsigned int m_connection_timeout_ms = 15000;
    const std::string m_address;
    const std::string m_config_name;
    std::string m_barcode_kits;
    std::string m_align_index_file;
    std::string m_bed_file;
    std::string m_alignment_type = "auto";
    std::string m_client_name;
    unsigned int m_timeout = 2000;
    unsigned int m_server_file_load_timeout = 30;
    unsigned long m_default_pass_read_timeout_ms = 0;
    unsigned int m_reconnect_timeout = 300;
    unsigned long m_block_size = 50000;
    unsigned long m_max_reads_queued = 20;
    bool m_disable_events = true;
    bool m_enable_state_data = false;
    void (*m_callback)() = nullptr;
    TamsuClient::StateChangeHandler m_state_change_handler;
    interfaces::BarcodingOptions m_barcoding;
    TransportSecurity m_transport_security;
    // Set only by set_min_score_rear_barcodes, so the front score can stand in for it.
    boost::optional<float> m_explicit_rear_score;

private:
    std::shared_ptr<basecall_service::BasecallClient> engine() const;
    ipc_tools::ConnectionInfo connection_info() const;

    mutable std::mutex m_client_mutex;  // guards copying and replacing m_engine
    std::shared_ptr<basecall_service::BasecallClient> m_engine;
    // Last member: unregistered before anything a report reads is destroyed.
    common::diagnostics::state::context::ScopedStateRegistration m_registration{this,
                                                                                "TamsuClient"};
};

}  // namespace tamsu
