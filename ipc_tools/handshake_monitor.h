#pragma once

#include <zmq.hpp>

#include <string>

namespace ipc_tools {

// Follows the ZMTP handshakes of the broker's socket through ZeroMQ's socket monitor, so that a
// server that refuses this client, or speaks another security mechanism or key, can be told
// apart from one that does not answer. Events queue on an inproc socket and are read only when
// asked. Used by the broker's thread only.
class HandshakeMonitor {
public:
    explicit HandshakeMonitor(zmq::context_t& context);

    // Follows `socket` from now on instead of the previous one; call before it connects.
    // `curve` says whether it uses CURVE, which changes what a failure means. Throws zmq::error_t.
    void watch(zmq::socket_t& socket, bool curve);

    // Closes the socket the events arrive on, so that the context of the watched socket can end.
    void unwatch() { m_events.close(); }

    // Takes in the events queued so far. Empty while the handshakes since the last successful
    // one (over every socket watched) have not failed for sure, else why they fail.
    std::string failure();

private:
    void take_event(std::uint16_t event, std::uint32_t value);

    zmq::context_t& m_context;
    zmq::socket_t m_events;
    unsigned long m_sockets_watched = 0;
    bool m_curve = false;
    // Connections the server closed during the handshake, since the last success. One may be
    // a server stopping at that moment; a key it cannot read makes it close every one.
    unsigned int m_broken_off = 0;
    // A refusal or protocol failure the server told this client about.
    std::string m_refusal;
};

}  // namespace ipc_tools
