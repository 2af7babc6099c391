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

    // What the setters write while disconnected; connect works from a copy.
    struct Parameters {
        Read::Priority priority = Read::MEDIUM_PRIORITY;
        unsigned int connection_timeout_ms = 15000;
        std::string barcode_kits;
        std::string align_index_file;
        std::string bed_file;
        std::string alignment_type = "auto";
        std::string client_name;
        unsigned int timeout = 2000;
        unsigned int server_file_load_timeout = 30;
        unsigned long default_pass_read_timeout_ms = 0;
        unsigned int reconnect_timeout = 300;
        unsigned long block_size = 50000;
        unsigned long max_reads_queued = 20;
        bool disable_events = true;
        bool enable_state_data = false;
        void (*callback)() = nullptr;
        TamsuClient::StateChangeHandler state_change_handler;
        interfaces::BarcodingOptions barcoding;
        TransportSecurity transport_security;
        // Set only by set_min_score_rear_barcodes, so the front score can stand in for it.
        boost::optional<float> explicit_rear_score;
    };

    // Applies `change` to the parameters unless a connection exists (already_connected). Any
    // thread; a setter racing connect is refused, or succeeds too late for that connection.
    template <typename Change>
    Result set(const char* setter, const std::string& value_text, Change change)
    {
        write_trace(setter, value_text);
        std::lock_guard<std::mutex> lock(m_parameters_mutex);
        if (get_status() != ConnectionStatus::disconnected) {
            return Result::already_connected;
        }
        change(m_parameters);
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

private:
    std::shared_ptr<basecall_service::BasecallClient> engine() const;
    Parameters parameters() const;
    ipc_tools::ConnectionInfo connection_info(const Parameters& parameters) const;
    // The read's own problems, without the tag's: pass_read decides that when queueing.
    static std::string content_problems(const Read& read);

    const std::string m_address;
    const std::string m_config_name;
    mutable std::mutex m_parameters_mutex;  // guards m_parameters; taken before m_client_mutex
    Parameters m_parameters;
    mutable std::mutex m_client_mutex;  // guards copying and replacing m_engine
    std::shared_ptr<basecall_service::BasecallClient> m_engine;
    // Last member: unregistered before anything a report reads is destroyed.
    common::diagnostics::state::context::ScopedStateRegistration m_registration{this,
                                                                                "TamsuClient"};
};

}  // namespace tamsu
