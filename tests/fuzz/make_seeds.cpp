// Records the fuzz targets' seed corpora: the targets' own client exchanges run against the
// reference server through a relay that keeps every reply, so each seed is a real reply sequence
// in the order a target reads it.
//   tamsu_fuzz_seeds tests/fuzz/corpus
#include "fuzz/client_exchanges.h"
#include "fuzz/reply_feed.h"

#include "server/basecall_server.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/read_factory.h"

#include <boost/filesystem/operations.hpp>

#include <chrono>
#include <fstream>
#include <iostream>
#include <set>
#include <thread>

namespace {

using ipc_tools::MessageType;
using tamsu_fuzz::Bytes;

MessageType type_of(const Bytes& bytes)
{
    zmq::message_t message(bytes.data(), bytes.size());
    return ipc_tools::Message(message).get_type();
}

// Forwards every request to the server and keeps the replies. A read still being called is
// asked for again, so the client sees its first called block rather than NONE_PENDING.
class Recorder {
public:
    explicit Recorder(const std::string& server)
            : m_upstream(m_context, zmq::socket_type::req)
    {
        m_upstream.set(zmq::sockopt::rcvtimeo, 20000);
        m_upstream.connect(server);
    }

    const std::string& address() const { return m_peer.endpoint(); }
    std::vector<tamsu_test::ReceivedRequest> requests() const { return m_peer.requests(); }

    // The replies since the last call.
    std::vector<Bytes> take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return std::exchange(m_replies, {});
    }

    std::vector<Bytes> every_reply() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_every_reply;
    }

private:
    tamsu_test::PeerAction forward(const tamsu_test::ReceivedRequest& request)
    {
        auto reply = exchange(request.bytes);
        for (int attempt = 0;
             attempt < 1000 && request.type == MessageType::GET_FIRST_CALLED_BLOCK &&
             type_of(reply) == MessageType::NONE_PENDING;
             ++attempt) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reply = exchange(request.bytes);
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back(reply);
        m_every_reply.push_back(reply);
        return tamsu_test::PeerAction::raw(reply);
    }

    Bytes exchange(const Bytes& request)
    {
        m_upstream.send(zmq::message_t(request.data(), request.size()), zmq::send_flags::none);
        zmq::message_t reply;
        tamsu_fuzz::require(m_upstream.recv(reply).has_value(), "the server answers");
        const auto* data = static_cast<const std::uint8_t*>(reply.data());
        return Bytes(data, data + reply.size());
    }

    zmq::context_t m_context;
    zmq::socket_t m_upstream;    // used on the peer's thread only
    mutable std::mutex m_mutex;  // guards the replies
    std::vector<Bytes> m_replies;
    std::vector<Bytes> m_every_reply;
    tamsu_test::ScriptedPeer m_peer{[this](const auto& request) { return forward(request); },
                                    tamsu_fuzz::private_endpoint()};
};

class Corpus {
public:
    explicit Corpus(boost::filesystem::path root)
            : m_root(std::move(root))
    {
    }

    void add(const std::string& target, const std::string& name, const Bytes& bytes) const
    {
        const auto directory = m_root / target;
        boost::filesystem::create_directories(directory);
        std::ofstream out((directory / name).string(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    // A seed whose first byte selects what the target does with the replies after it.
    void add(const std::string& target, const std::string& name, std::uint8_t selector,
             const std::vector<Bytes>& replies) const
    {
        Bytes seed{selector};
        const auto joined = tamsu_fuzz::join_replies(replies);
        seed.insert(seed.end(), joined.begin(), joined.end());
        add(target, name, seed);
    }

private:
    boost::filesystem::path m_root;
};

// The known read's sequence as the toy caller calls it, twice in the index so that a read has
// more than one alignment, and BED lines over both.
void write_reference()
{
    const auto samples = tamsu_test::make_samples(tamsu_fuzz::k_read_samples, 1);
    const auto called = reference_server::ToyCaller::call(
            samples, tamsu_test::k_daq_offset, tamsu_test::k_daq_scaling,
            *reference_server::find_config("toy_flipflop_fast"), {});
    tamsu_fuzz::write_reference_files(">chr1\nGATTACA" + called.sequence + "\n>chr2\n" +
                                              called.sequence + "\n",
                                      "chr1\t0\t40\tfirst\nchr2\t5\t30\tsecond\n");
}

void record_failed_handshakes(reference_server::BasecallServer& server, Recorder& recorder,
                              const Corpus& corpus)
{
    auto faults = server.faults();
    faults.refused_configs = {"toy_flipflop_fast"};
    server.set_faults(faults);
    tamsu_fuzz::Handshake(recorder.address(), tamsu_fuzz::handshake_info("toy_flipflop_fast"))
            .connect();
    corpus.add("fuzz_handshake", "config_refused", tamsu_fuzz::join_replies(recorder.take()));
    server.set_faults({});

    auto info = tamsu_fuzz::handshake_info("toy_flipflop_fast");
    info.m_barcode_kits = "NO-SUCH-KIT";
    tamsu_fuzz::Handshake(recorder.address(), info).connect();
    corpus.add("fuzz_handshake", "unknown_kit", tamsu_fuzz::join_replies(recorder.take()));
}

struct ReadCase {
    const char* config;
    std::vector<tamsu_fuzz::PullOptions> options;
};

void record_called_reads(tamsu_fuzz::Handshake& handshake,
                         basecall_service::RequestBrokerAdapter& adapter, Recorder& recorder,
                         const ReadCase& read_case, const Corpus& corpus)
{
    for (const auto options : read_case.options) {
        tamsu_fuzz::CalledReadSession session(options, handshake.connection_id());
        tamsu_fuzz::require(session.push(adapter), "the server takes the read");
        recorder.take();  // the raw blocks' acknowledgements are not the target's
        session.pull(adapter);
        const auto byte = tamsu_fuzz::options_byte(options);
        corpus.add("fuzz_called_read", std::string(read_case.config) + "_" + std::to_string(byte),
                   byte, recorder.take());
    }
}

void record_queries(Recorder& recorder, const Corpus& corpus)
{
    const char* names[] = {"statistics", "barcode_kits", "lamp_kits", "server_information",
                           "internal_state"};
    for (std::uint8_t query = 0; query < tamsu_fuzz::k_query_count; ++query) {
        tamsu_fuzz::run_query(query, recorder.address());
        corpus.add("fuzz_server_queries", names[query], query, recorder.take());
    }
}

// Clients of every configuration stay connected while the queries run, so that the statistics
// list them; the first one's handshake, farewell included, is the successful handshake seed.
void record_sessions(Recorder& recorder, const Corpus& corpus)
{
    const std::vector<ReadCase> cases{
            {"toy_flipflop_fast", {{false, false}, {true, false}, {false, true}, {true, true}}},
            {"toy_runlength", {{false, false}, {false, true}}},
            {"toy_modbase", {{false, false}}}};
    std::vector<std::unique_ptr<tamsu_fuzz::Handshake>> clients;
    std::vector<Bytes> first_handshake;
    for (const auto& read_case : cases) {
        clients.push_back(std::make_unique<tamsu_fuzz::Handshake>(
                recorder.address(), tamsu_fuzz::handshake_info(read_case.config)));
        auto* adapter = clients.back()->connect();
        tamsu_fuzz::require(adapter != nullptr, "the reference server takes the client");
        const auto replies = recorder.take();
        if (first_handshake.empty()) {
            first_handshake = replies;
        }
        record_called_reads(*clients.back(), *adapter, recorder, read_case, corpus);
    }
    record_queries(recorder, corpus);
    clients.front()->disconnect();
    const auto farewell = recorder.take();
    first_handshake.insert(first_handshake.end(), farewell.begin(), farewell.end());
    corpus.add("fuzz_handshake", "connected", tamsu_fuzz::join_replies(first_handshake));
}

// Every distinct small reply, and one request of each kind: the broker's classification sees
// both through the same message class.
void record_messages(const Recorder& recorder, const Corpus& corpus)
{
    constexpr std::size_t k_largest = 8192;
    std::set<Bytes> seen;
    std::set<MessageType> request_types;
    const auto add = [&](const Bytes& bytes) {
        if (bytes.size() <= k_largest && seen.insert(bytes).second) {
            corpus.add("fuzz_received_message",
                       ipc_tools::message_type_as_string(type_of(bytes)) + "_" +
                               std::to_string(seen.size()),
                       bytes);
        }
    };
    for (const auto& reply : recorder.every_reply()) {
        add(reply);
    }
    for (const auto& request : recorder.requests()) {
        if (request_types.insert(request.type).second) {
            add(request.bytes);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " CORPUS_DIRECTORY\n";
        return 2;
    }
    tamsu_fuzz::quiet_logging();
    const Corpus corpus(argv[1]);
    write_reference();
    reference_server::BasecallServer server(reference_server::ServerOptions{});
    Recorder recorder(server.endpoint());
    record_failed_handshakes(server, recorder, corpus);
    record_sessions(recorder, corpus);
    record_messages(recorder, corpus);
    return 0;
}
