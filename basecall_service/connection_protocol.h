#pragma once

#include "basecall_service/abstract_connection_protocol.h"
#include "basecall_service/client_connection_state.h"
#include "basecall_service/request_broker_adapter.h"
#include "common/tracing/trace.h"

namespace basecall_service {

// Opens the socket, has the server load the configuration, alignment index and BED file, fetches
// the configuration's details and the index's SAM header, and registers the client. Reports each
// step through the connection state; never throws. Used by the worker thread only, except stop.
class ConnectionProtocol : public AbstractConnectionProtocol,
                           private common::tracing::TraceDomain<ConnectionProtocol> {
public:
    explicit ConnectionProtocol(ClientConnectionState& client_state);

    void set_connection_params(const std::string& address, unsigned int timeout) override;
    void set_curve_keys(const ipc_tools::CurveKeys& keys) override;
    RequestBrokerAdapter* establish_server_connection(const ipc_tools::ConnectionInfo& info,
                                                      std::uint32_t file_load_timeout) override;
    const interfaces::ConfigDetails& get_config_details() const override;
    std::string get_connection_id() const override;
    const std::string& get_alignment_file_header() const override;
    const ErrorState& error_state() const override;

    void disconnect_from_server() const override;
    void stop() override;

private:
    bool prepare_connection();
    bool check_connection_values();
    bool load_config();
    bool load_alignment_index();
    bool load_bed_file();
    bool connect();
    bool load_file_on_server(ipc_tools::MessageType type, const std::string& file,
                             std::uint32_t timeout);
    bool try_load_on_server(ipc_tools::MessageType type, const std::string& file);
    bool retrieve_config_details(const std::string& name);
    bool retrieve_alignment_file_header(const std::string& index_file);
    // Sends `request`; on a transport failure copies the adapter's error and returns false.
    bool exchange(ipc_tools::Message request, ipc_tools::Message& reply);
    bool fail(ConnectionError code, std::string message);

    ClientConnectionState& m_client_state;
    ErrorState m_error_state;
    // Mutable only so that the farewell, which changes nothing the caller can see, can be const.
    mutable RequestBrokerAdapter m_request_broker;
    std::string m_server_address;
    unsigned int m_connection_timeout = 0;
    ipc_tools::CurveKeys m_curve_keys;
    interfaces::ConfigDetails m_config_details;
    std::string m_connection_id;
    std::string m_alignment_file_header;
    ipc_tools::ConnectionInfo m_connection_info;
    std::uint32_t m_server_file_load_timeout = 0;
};

// The error a CONNECT refusal stands for, naming the refused item of `info`.
ErrorState create_connect_error_state(ipc_tools::MessageType reply_type,
                                      const ipc_tools::ConnectionInfo& info);

// The error a REQUEST_FAILED reply to a load request stands for.
ErrorState create_load_request_error_state(ipc_tools::MessageType request_type,
                                           const std::string& reason);

}  // namespace basecall_service
