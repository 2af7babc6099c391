#include "basecall_service/read_processing_protocol.h"

#include "basecall_service/read_buffer.h"
#include "basecall_service/request_broker_adapter.h"
#include "support/log_capture.h"
#include "support/read_factory.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

namespace basecall_service {
namespace {

using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ScriptedPeer;

// What a test's server says about one called block.
struct CalledBlock {
    std::uint32_t tag = 1;
    std::uint32_t block_index = 0;
    std::uint32_t num_blocks = 1;
    std::uint32_t total_events = 4;
    std::uint32_t model_stride = 5;
    std::vector<std::uint8_t> moves{1, 0, 1, 1};
    bool with_moves = true;
    bool with_sequence = true;
    bool with_alignments = true;
    std::string genome = "chr1";
};

PeerAction called_block_reply(const CalledBlock& spec)
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::AlignmentResultData>> alignments{
            tamsu_ipc::CreateAlignmentResultDataDirect(builder, spec.genome.c_str(), 10, 20, 0, 10,
                                                       4, 0, 0, 10, 9, 0.5f, 0.9f, 0.8f, 60, "sam",
                                                       0, "", '+')};
    const auto trace = tamsu_ipc::CreateFlipflopTraceData(
            builder, spec.with_moves ? builder.CreateVector(spec.moves) : 0);
    const auto called = tamsu_ipc::CreateCalledBlockDataDirect(
            builder, spec.total_events, 4, 3, 0, 1.f, 12.f, 0.1f, 0.8f, 0.1f, 400.f, 20.f, 1,
            spec.model_stride, 2, spec.with_sequence ? "ACG" : nullptr, "+++", "toy", 0,
            tamsu_ipc::TraceResults::FlipflopTraceData, trace.Union(), 0, nullptr, 0,
            spec.with_alignments ? &alignments : nullptr);
    const auto block = tamsu_ipc::CreateReadBlockData(
            builder,
            spec.block_index == 0 ? tamsu_ipc::ReadBlockType::RETURN_FIRST_CALLED_BLOCK
                                  : tamsu_ipc::ReadBlockType::RETURN_NEXT_CALLED_BLOCK,
            spec.tag, spec.block_index, spec.num_blocks, 0, 0.f, 0.f, 0, 0, called);
    builder.Finish(tamsu_ipc::CreateMessageData(builder, nullptr, 0,
                                                tamsu_ipc::MessageContent::ReadBlockData,
                                                block.Union()),
                   "0007");
    return PeerAction::reply(ipc_tools::Message(builder));
}

PeerAction reply(MessageType type, std::uint32_t value = 0)
{
    return PeerAction::reply(tamsu_test::simple_reply(type, value));
}

// What the peer answers: raw blocks get `first` and `next`, pull requests `pulls` in turn.
struct Script {
    std::vector<PeerAction> pulls;
    MessageType first = MessageType::RAW_BLOCK_ACCEPTED;
    MessageType next = MessageType::RAW_BLOCK_ACCEPTED;
};

// A buffer holding one queued read of 1000 samples in two blocks, an adapter on a scripted peer,
// and a protocol ready for push and pull calls driven one at a time from the test.
class ReadProcessingProtocolTest : public ::testing::Test {
protected:
    void start(const Script& script)
    {
        m_peer = std::make_unique<ScriptedPeer>([script, next = std::size_t(0)](
                                                        const auto& request) mutable {
            if (request.type == MessageType::PASS_FIRST_RAW_BLOCK) {
                return reply(script.first);
            }
            if (request.type == MessageType::PASS_NEXT_RAW_BLOCK) {
                return reply(script.next);
            }
            return next < script.pulls.size() ? script.pulls[next++] : PeerAction::silence();
        });
        m_buffer = std::make_unique<ReadBuffer>();
        m_buffer->set_block_size(100);
        m_buffer->set_max_input_queue_size(10);
        m_buffer->set_connection_id("conn");
        auto read = tamsu_test::make_read(1, tamsu_test::make_samples(1000, 1), 5);
        ASSERT_EQ(m_buffer->queue_read(read, 0), PassReadResult::success);
        m_adapter = std::make_unique<RequestBrokerAdapter>();
        ASSERT_TRUE(m_adapter->prepare_connection(m_peer->address(), 2000));
        m_protocol = std::make_unique<ReadProcessingProtocol>();
        m_protocol->set_connection_id("conn");
        // A stopped protocol only takes the buffer and returns.
        m_protocol->stop();
        EXPECT_EQ(m_protocol->process_reads(m_buffer.get(), m_adapter.get()).code,
                  ConnectionError::no_error);
    }

    bool push() { return m_protocol->push_into_server(m_adapter.get()); }
    bool pull() { return m_protocol->pull_from_server(m_adapter.get()); }
    std::string error_text() const { return to_string(m_protocol->error_state()); }

    std::unique_ptr<ScriptedPeer> m_peer;
    std::unique_ptr<ReadBuffer> m_buffer;
    std::unique_ptr<RequestBrokerAdapter> m_adapter;
    std::unique_ptr<ReadProcessingProtocol> m_protocol;
};

TEST_F(ReadProcessingProtocolTest, EachBadReplyNamesWhatWentWrongAndKeepsTheRead)
{
    using T = MessageType;
    const CalledBlock stranger{99};  // another read's tag
    CalledBlock long_genome;
    long_genome.genome = std::string(253, 'g');
    struct Case {
        Script script;
        std::string error;
    };
    const std::vector<Case> cases{
            {Script{{}, T::RAW_BLOCK_ACCEPTED, T::NOT_READY},
             "[bad_reply] Server accepted first block of read, but then rejected subsequent "
             "block for read: 1"},
            {Script{{}, T::SUCCESS},
             "[invalid_response] Failed to push to server, invalid reply: SUCCESS from basecall "
             "server when passing raw read data for read: 1. Connection id: conn"},
            {Script{{reply(T::RAW_BLOCK_ACCEPTED)}},
             "[invalid_response] Failed to pull from server, invalid reply: RAW_BLOCK_ACCEPTED"},
            {Script{{called_block_reply(stranger)}},
             "[bad_reply] Returned read does not belong to this client: 99"},
            {Script{{called_block_reply(long_genome)}},
             "[bad_reply] Alignment genome name " + long_genome.genome +
                     " exceeds maximum allowed size of 253"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        start(c.script);

        EXPECT_FALSE(push() && pull());

        EXPECT_EQ(error_text(), c.error);
        EXPECT_EQ(m_buffer->num_queued_reads() + m_buffer->num_submitted_reads(), 1u);
    }
}

TEST_F(ReadProcessingProtocolTest, MalformedCalledBlocksAreInvalidResponses)
{
    std::vector<CalledBlock> broken(6);
    broken[0].with_sequence = false;
    broken[1].with_alignments = false;
    broken[2].model_stride = 0;
    broken[3].moves = {1, 0};       // fewer moves than events
    broken[4].total_events = 5000;  // more events than the read has samples
    broken[5].num_blocks = 2;       // a next block of another read
    for (const auto& spec : broken) {
        CalledBlock stray = spec;
        stray.tag = 2;
        stray.block_index = 1;
        start(Script{{called_block_reply(spec), called_block_reply(stray)}});
        ASSERT_TRUE(push());

        EXPECT_FALSE(pull());

        EXPECT_EQ(m_protocol->error_state().code, ConnectionError::invalid_response)
                << error_text();
        EXPECT_EQ(m_buffer->num_submitted_reads(), 1u);
    }
}

TEST_F(ReadProcessingProtocolTest, MovesThatNoBlockCarriesReadAsZeros)
{
    CalledBlock first;
    first.num_blocks = 3;
    first.total_events = 16;  // the last four never arrive
    CalledBlock gap = first;
    gap.block_index = 1;
    gap.with_moves = false;
    CalledBlock last = first;
    last.block_index = 2;
    start(Script{{called_block_reply(first), called_block_reply(gap), called_block_reply(last)}});
    ASSERT_TRUE(push());

    ASSERT_TRUE(pull()) << error_text();

    std::list<std::unique_ptr<interfaces::ReadHolder>> out;
    m_buffer->get_reads_out(out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(tamsu_test::dataset_values<std::uint8_t>(*out.front(), interfaces::dataset::moves),
              (std::vector<std::uint8_t>{1, 0, 1, 1, 0, 0, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0}));
}

TEST_F(ReadProcessingProtocolTest, LostReadsAreDroppedWithAWarning)
{
    start(Script{{reply(MessageType::NONE_PENDING, 0), reply(MessageType::NONE_PENDING, 1)}});
    ASSERT_TRUE(push());
    tamsu_test::LogCapture capture;

    EXPECT_TRUE(pull());
    EXPECT_EQ(m_buffer->num_submitted_reads(), 1u);
    EXPECT_TRUE(pull());

    EXPECT_EQ(m_buffer->num_submitted_reads(), 0u);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, "warning");
    EXPECT_EQ(records[0].message, "One or more reads has been lost on the server.");
}

}  // namespace
}  // namespace basecall_service
