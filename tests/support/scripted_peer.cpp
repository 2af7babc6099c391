#include "support/scripted_peer.h"

#include <cerrno>

namespace tamsu_test {

namespace {

std::vector<std::uint8_t> bytes_of(const zmq::message_t& message)
{
    const auto* data = static_cast<const std::uint8_t*>(message.data());
    return std::vector<std::uint8_t>(data, data + message.size());
}

ReceivedRequest describe(zmq::message_t& body)
{
    ReceivedRequest request;
    request.bytes = bytes_of(body);
    ipc_tools::Message message(body);
    request.type = message.get_type();
    if (message.empty()) {
        return request;
    }
    const auto* data = message.get_message_data();
    if (data->connection_id()) {
        request.connection_id = data->connection_id()->str();
    }
    if (const auto* simple = data->content_as_SimpleRequestData()) {
        request.value = simple->value();
        request.text = simple->text() ? simple->text()->str() : "";
    }
    return request;
}

}  // namespace

PeerAction PeerAction::reply(const ipc_tools::Message& message, std::chrono::milliseconds delay)
{
    zmq::message_t out;
    message.copy().transfer_to_zmq(out);
    return {Kind::reply, bytes_of(out), delay};
}

PeerAction PeerAction::raw(std::vector<std::uint8_t> bytes)
{
    return {Kind::reply, std::move(bytes)};
}

ipc_tools::Message simple_reply(ipc_tools::MessageType type, std::uint32_t value,
                                const std::string& text)
{
    return ipc_tools::Message(type, "", value, text);
}

ScriptedPeer::ScriptedPeer(Handler handler, const std::string& endpoint, bool record_requests)
        : m_handler(std::move(handler))
        , m_socket(m_context, zmq::socket_type::router)
        , m_record_requests(record_requests)
{
    m_socket.set(zmq::sockopt::linger, 0);
    m_socket.bind(endpoint);
    m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
    m_thread = std::thread([this] { serve(); });
}

ScriptedPeer::ScriptedPeer(std::vector<PeerAction> script)
        : ScriptedPeer([script = std::move(script),
                        next = std::size_t(0)](const ReceivedRequest&) mutable {
            return next < script.size() ? script[next++] : PeerAction::silence();
        })
{
}

ScriptedPeer::~ScriptedPeer()
{
    m_stop = true;
    m_thread.join();
}

std::string ScriptedPeer::address() const
{
    const std::string prefix = "tcp://";
    return m_endpoint.compare(0, prefix.size(), prefix) == 0 ? m_endpoint.substr(prefix.size())
                                                             : m_endpoint;
}

std::vector<ReceivedRequest> ScriptedPeer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

bool ScriptedPeer::wait_for_requests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void ScriptedPeer::serve()
{
    zmq::pollitem_t item{m_socket.handle(), 0, ZMQ_POLLIN, 0};
    while (!m_stop) {
        try {
            if (zmq::poll(&item, 1, std::chrono::milliseconds(20)) == 0) {
                continue;
            }
        } catch (const zmq::error_t& error) {
            // A signal meant for the process (a fuzzer's timer, say) cut the wait short.
            if (error.num() != EINTR) {
                throw;
            }
            continue;
        }
        // A REQ peer's message arrives as [identity, empty delimiter, body].
        std::vector<zmq::message_t> parts;
        do {
            parts.emplace_back();
            (void)m_socket.recv(parts.back());
        } while (parts.back().more());
        if (parts.size() < 3) {
            continue;
        }
        auto request = describe(parts.back());
        const auto action = m_handler(request);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_record_requests) {
                m_requests.push_back(std::move(request));
            }
        }
        m_changed.notify_all();
        if (action.kind == PeerAction::Kind::silence) {
            continue;
        }
        std::this_thread::sleep_for(action.delay);
        m_socket.send(parts[0], zmq::send_flags::sndmore);
        m_socket.send(zmq::message_t(), zmq::send_flags::sndmore);
        m_socket.send(zmq::message_t(action.bytes.data(), action.bytes.size()),
                      zmq::send_flags::none);
    }
}

}  // namespace tamsu_test
