#include "server/zap_handler.h"

#include "common/logger.h"
#include "vask/util/set_thread_name.h"

#include <array>

namespace reference_server {

namespace {

// Request frames: version, request id, domain, address, routing id, mechanism, credentials.
constexpr std::size_t k_request_frames = 7;
constexpr std::size_t k_mechanism = 5;
constexpr std::size_t k_client_key = 6;
constexpr std::size_t k_curve_key_bytes = 32;

std::string text_of(const zmq::message_t& frame)
{
    return std::string(static_cast<const char*>(frame.data()), frame.size());
}

std::vector<std::string> refusal(const std::string& status, const std::string& text)
{
    return {status, text, "", ""};
}

}  // namespace

ZapHandler::ZapHandler(zmq::context_t& context, std::set<std::string> allowed_keys)
        : m_socket(context, zmq::socket_type::rep)
        , m_allowed_keys(std::move(allowed_keys))
{
    m_socket.set(zmq::sockopt::linger, 0);
    // The short time-out is what lets the destructor be noticed promptly.
    m_socket.set(zmq::sockopt::rcvtimeo, 50);
    m_socket.bind("inproc://zeromq.zap.01");
    m_thread = std::thread([this] { serve(); });
}

ZapHandler::~ZapHandler()
{
    m_stop = true;
    m_thread.join();
}

std::vector<std::string> ZapHandler::answer(const std::vector<zmq::message_t>& request) const
{
    if (request.size() != k_request_frames || text_of(request[0]) != "1.0") {
        return refusal("500", "Malformed authentication request");
    }
    if (text_of(request[k_mechanism]) != "CURVE" ||
        request[k_client_key].size() != k_curve_key_bytes) {
        return refusal("400", "Only CURVE clients are served");
    }
    std::array<char, 41> key{};
    zmq_z85_encode(key.data(), request[k_client_key].data<std::uint8_t>(), k_curve_key_bytes);
    const std::string client_key(key.data());
    if (!m_allowed_keys.empty() && m_allowed_keys.count(client_key) == 0) {
        TAMSU_LOG(warning, "refused a client with CURVE key " << client_key);
        return refusal("400", "Client key not allowed");
    }
    return {"200", "OK", client_key, ""};
}

void ZapHandler::serve()
{
    vask::util::set_thread_name("toy_zap");
    while (!m_stop) {
        try {
            serve_one();
        } catch (const std::exception& error) {
            TAMSU_LOG(error, "authentication handler: " << error.what());
        }
    }
}

void ZapHandler::serve_one()
{
    std::vector<zmq::message_t> request(1);
    if (!m_socket.recv(request.back())) {
        return;
    }
    while (request.back().more()) {
        request.emplace_back();
        (void)m_socket.recv(request.back());
    }
    // Version and request id go back as they came.
    const std::vector<std::string> head{"1.0", request.size() > 1 ? text_of(request[1]) : ""};
    const auto rest = answer(request);
    for (const auto& frame : head) {
        m_socket.send(zmq::buffer(frame), zmq::send_flags::sndmore);
    }
    for (std::size_t i = 0; i < rest.size(); ++i) {
        m_socket.send(zmq::buffer(rest[i]),
                      i + 1 < rest.size() ? zmq::send_flags::sndmore : zmq::send_flags::none);
    }
}

}  // namespace reference_server
