#pragma once

#include "support/scripted_peer.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Turns one fuzz input into the server's replies and serves them to the library over a real
// socket, so that every reply takes the client's whole receive path.
namespace tamsu_fuzz {

using Bytes = std::vector<std::uint8_t>;

// Separates the replies of one input; the seeds carry it too, so mutations keep the framing.
constexpr char k_reply_separator[] = "|REPLY|";

std::vector<Bytes> split_replies(const std::uint8_t* data, std::size_t size);
Bytes join_replies(const std::vector<Bytes>& replies);

// Stops the run when a property of the code under test does not hold; libFuzzer keeps the input.
void require(bool condition, const char* property);

// The library logs through Boost.Log's default sink unless told otherwise; at fuzzing rates that
// is only noise.
void quiet_logging();

// A fresh "ipc://" endpoint in the temporary directory.
std::string private_endpoint();

// Answers every request with the next reply of the current input, then with an empty message
// (which the client cannot read) once they run out. Serves on a private ipc endpoint.
class ReplyFeed {
public:
    ReplyFeed();

    void load(std::vector<Bytes> replies);
    const std::string& address() const { return m_peer.endpoint(); }

private:
    tamsu_test::PeerAction next();

    std::mutex m_mutex;  // guards the replies: the peer answers on its own thread
    std::vector<Bytes> m_replies;
    std::size_t m_next = 0;
    tamsu_test::ScriptedPeer m_peer;
};

}  // namespace tamsu_fuzz
