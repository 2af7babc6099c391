#include "basecall_service/read_processing_protocol.h"

#include "basecall_service/read_buffer.h"
#include "basecall_service/request_broker_adapter.h"
#include "interfaces/read_alignment_helper.h"
#include "support/exception_text.h"
#include "support/log_capture.h"
#include "support/read_factory.h"
#include "support/scripted_peer.h"

#include <gtest/gtest.h>

#include <functional>

namespace basecall_service {
namespace {

using interfaces::dataset;
using ipc_tools::Message;
using ipc_tools::MessageType;
using tamsu_test::PeerAction;
using tamsu_test::ReceivedRequest;
using tamsu_test::ScriptedPeer;
using tamsu_test::simple_reply;

struct Alignment {
    std::string genome;
    std::int32_t bed_hits = 0;
    std::string sam;
    std::string bed;
};

// What a test's server says about one called block.
struct CalledBlock {
    std::uint32_t tag = 1;
    std::uint32_t block_index = 0;
    std::uint32_t num_blocks = 1;
    std::uint32_t total_events = 4;
    std::uint32_t block_events = 4;
    std::uint32_t model_stride = 5;
    std::vector<std::uint8_t> moves{1, 0, 1, 1};
    std::string sequence = "ACG";
    bool with_sequence = true;
    bool with_alignments = true;
    std::vector<Alignment> alignments;
    bool with_barcoding = false;
    bool barcoding_without_lamp = false;
};

Message called_block_reply(const CalledBlock& spec)
{
    flatbuffers::FlatBufferBuilder builder;
    std::vector<flatbuffers::Offset<tamsu_ipc::AlignmentResultData>> alignments;
    for (const auto& a : spec.alignments) {
        alignments.push_back(tamsu_ipc::CreateAlignmentResultDataDirect(
                builder, a.genome.c_str(), 10, 20, 0, 10, 4, 0, 0, 10, 9, 0.5f, 0.9f, 0.8f, 60,
                a.sam.c_str(), a.bed_hits, a.bed.c_str(), '+'));
    }
    const auto moves = builder.CreateVector(spec.moves);
    const auto trace = tamsu_ipc::CreateFlipflopTraceData(builder, moves);
    flatbuffers::Offset<tamsu_ipc::BarcodingResultsData> barcoding;
    if (spec.with_barcoding) {
        const auto end =
                tamsu_ipc::CreateBarcodeResultDataDirect(builder, "BC01", "AC", "ACG", 70.f, 12);
        const auto mid = tamsu_ipc::CreateMidBarcodeResultDataDirect(builder, "BC02", 30.f, 5);
        const auto lamp = tamsu_ipc::CreateLampResultDataDirect(builder, "FIP01", 1.f, "t1", 2.f);
        const auto adapter = tamsu_ipc::CreateAdapterResultData(builder, 3.f, 44);
        barcoding = tamsu_ipc::CreateBarcodingResultsDataDirect(
                builder, 7, 8, "full", "barcode01", "KIT", "var", 70.f, end, end, mid, mid, "in",
                1.f, "in2", 2.f, spec.barcoding_without_lamp ? 0 : lamp, adapter);
    }
    const auto called = tamsu_ipc::CreateCalledBlockDataDirect(
            builder, spec.total_events, spec.block_events, 3, 0, 1.f, 12.f, 0.1f, 0.8f, 0.1f, 400.f,
            20.f, 1, spec.model_stride, 2, spec.with_sequence ? spec.sequence.c_str() : nullptr,
            "+++", "toy", 0, tamsu_ipc::TraceResults::FlipflopTraceData, trace.Union(), 0, nullptr,
            barcoding, spec.with_alignments ? &alignments : nullptr);
    const auto type = spec.block_index == 0 ? tamsu_ipc::ReadBlockType::RETURN_FIRST_CALLED_BLOCK
                                            : tamsu_ipc::ReadBlockType::RETURN_NEXT_CALLED_BLOCK;
    tamsu_ipc::ReadBlockDataBuilder block(builder);
    block.add_type(type);
    block.add_read_tag(spec.tag);
    block.add_block_index(spec.block_index);
    block.add_num_blocks(spec.num_blocks);
    block.add_called_block(called);
    const auto content = block.Finish();
    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_content(content.Union());
    root.add_content_type(tamsu_ipc::MessageContent::ReadBlockData);
    builder.Finish(root.Finish(), "0007");
    return Message(builder);
}

// A buffer with one read submitted or queued, an adapter on a scripted peer and a protocol ready
// for direct push and pull calls.
class ReadProcessingProtocolTest : public ::testing::Test {
protected:
    void start(ScriptedPeer::Handler handler, std::size_t samples = 1000,
               unsigned long block_size = 50000)
    {
        m_peer = std::make_unique<ScriptedPeer>(std::move(handler));
        m_buffer.set_block_size(block_size);
        m_buffer.set_max_input_queue_size(10);
        m_buffer.set_connection_id("conn");
        auto read = tamsu_test::make_read(1, tamsu_test::make_samples(samples, 1), 5);
        ASSERT_EQ(m_buffer.queue_read(read, 0), PassReadResult::success);
        ASSERT_TRUE(m_adapter.prepare_connection(m_peer->address(), 2000));
        m_protocol.set_connection_id("conn");
        // A stopped protocol only takes the buffer and returns, so exchanges can be driven
        // one at a time from the test.
        m_protocol.stop();
        EXPECT_EQ(m_protocol.process_reads(&m_buffer, &m_adapter).code, ConnectionError::no_error);
    }

    // Accepts every raw block and answers the pull requests in turn with `replies`.
    static ScriptedPeer::Handler accepting(std::vector<PeerAction> replies)
    {
        auto blocks = std::make_shared<std::vector<PeerAction>>(std::move(replies));
        return [blocks, next = std::size_t(0)](const ReceivedRequest& request) mutable {
            if (request.type == MessageType::PASS_FIRST_RAW_BLOCK ||
                request.type == MessageType::PASS_NEXT_RAW_BLOCK) {
                return PeerAction::reply(simple_reply(MessageType::RAW_BLOCK_ACCEPTED));
            }
            return next < blocks->size() ? (*blocks)[next++] : PeerAction::silence();
        };
    }

    std::string error_text() const { return to_string(m_protocol.error_state()); }

    std::unique_ptr<ScriptedPeer> m_peer;
    ReadBuffer m_buffer;
    RequestBrokerAdapter m_adapter;
    ReadProcessingProtocol m_protocol;
};

TEST_F(ReadProcessingProtocolTest, NotReadyForTheFirstBlockKeepsTheReadQueued)
{
    start([](const ReceivedRequest&) {
        return PeerAction::reply(simple_reply(MessageType::NOT_READY));
    });

    EXPECT_TRUE(m_protocol.push_into_server(&m_adapter));
    EXPECT_TRUE(m_protocol.push_into_server(&m_adapter));

    EXPECT_EQ(m_buffer.num_queued_reads(), 1u);
    EXPECT_EQ(m_buffer.num_submitted_reads(), 0u);
    EXPECT_EQ(m_peer->requests().size(), 2u);
    EXPECT_EQ(m_peer->requests()[1].bytes, m_peer->requests()[0].bytes);
}

TEST_F(ReadProcessingProtocolTest, NotReadyForALaterBlockIsABadReply)
{
    start(
            [](const ReceivedRequest& request) {
                return PeerAction::reply(
                        simple_reply(request.type == MessageType::PASS_FIRST_RAW_BLOCK
                                             ? MessageType::RAW_BLOCK_ACCEPTED
                                             : MessageType::NOT_READY));
            },
            1000, 100);

    EXPECT_FALSE(m_protocol.push_into_server(&m_adapter));

    EXPECT_EQ(error_text(), "[bad_reply] Server accepted first block of read, but then rejected "
                            "subsequent block for read: 1");
}

TEST_F(ReadProcessingProtocolTest, UnexpectedRepliesToPushAndPullAreInvalidResponses)
{
    start([](const ReceivedRequest& request) {
        return PeerAction::reply(simple_reply(request.type == MessageType::PASS_FIRST_RAW_BLOCK
                                                      ? MessageType::SUCCESS
                                                      : MessageType::RAW_BLOCK_ACCEPTED));
    });

    EXPECT_FALSE(m_protocol.push_into_server(&m_adapter));
    EXPECT_EQ(error_text(),
              "[invalid_response] Failed to push to server, invalid reply: SUCCESS from basecall "
              "server when passing raw read data for read: 1. Connection id: conn");
    EXPECT_FALSE(m_protocol.pull_from_server(&m_adapter));
    EXPECT_EQ(error_text(),
              "[invalid_response] Failed to pull from server, invalid reply: RAW_BLOCK_ACCEPTED");
}

TEST_F(ReadProcessingProtocolTest, ReadOfOneBlockIsPulledWithoutAskingForMore)
{
    CalledBlock spec;
    spec.alignments = {{"chr1", 1, "r1\tsam", "chr1\t0\t5"}, {"chr2", 0, "r2\tsam", ""}};
    start(accepting({PeerAction::reply(called_block_reply(spec))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    ASSERT_TRUE(m_protocol.pull_from_server(&m_adapter)) << error_text();

    const auto requests = m_peer->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].type, MessageType::GET_FIRST_CALLED_BLOCK);
    EXPECT_EQ(requests[1].value, 0u);
    EXPECT_EQ(requests[1].connection_id, "conn");
    std::list<std::unique_ptr<interfaces::ReadHolder>> reads;
    m_buffer.get_reads_out(reads);
    ASSERT_EQ(reads.size(), 1u);
    const auto& read = *reads.front();
    EXPECT_EQ(tamsu_test::dataset_text(read, dataset::sequence), "ACG");
    EXPECT_EQ(tamsu_test::dataset_values<std::uint8_t>(read, dataset::moves),
              (std::vector<std::uint8_t>{1, 0, 1, 1}));
    const auto& metadata = read.get_metadata();
    EXPECT_EQ(metadata.get_value<std::string>("alignment_sam_record"), "r1\tsam\nr2\tsam");
    EXPECT_EQ(metadata.get_value<std::string>("alignment_bed_lines"), "chr1\t0\t5");
    EXPECT_EQ(metadata.get_value<std::string>("base_mod_alphabet"), "");
    EXPECT_EQ(read.get_datasets().count(dataset::base_mod_probs), 0u);
    EXPECT_EQ(metadata.get_value<unsigned long>("num_events"), 200u);
    const auto table =
            interfaces::ReadAlignmentHelper::create_alignment_table_from_read_holder(read);
    EXPECT_EQ(table.num_records, 2u);
    EXPECT_STREQ(&table.view_field<char>("Genome")[1], "chr2");
}

TEST_F(ReadProcessingProtocolTest, MultiBlockReadIsReassembledInOrder)
{
    CalledBlock first;
    first.num_blocks = 2;
    first.total_events = 6;
    first.block_events = 4;
    CalledBlock second = first;
    second.block_index = 1;
    second.block_events = 2;
    second.moves = {0, 1};
    second.sequence = "T";
    start(accepting({PeerAction::reply(called_block_reply(first)),
                     PeerAction::reply(called_block_reply(second))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    ASSERT_TRUE(m_protocol.pull_from_server(&m_adapter)) << error_text();

    const auto requests = m_peer->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].type, MessageType::GET_NEXT_CALLED_BLOCK);
    EXPECT_EQ(requests[2].value, 1u);
    std::list<std::unique_ptr<interfaces::ReadHolder>> reads;
    m_buffer.get_reads_out(reads);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(tamsu_test::dataset_text(*reads.front(), dataset::sequence), "ACGT");
    EXPECT_EQ(tamsu_test::dataset_values<std::uint8_t>(*reads.front(), dataset::moves),
              (std::vector<std::uint8_t>{1, 0, 1, 1, 0, 1}));
}

TEST_F(ReadProcessingProtocolTest, NextBlockOfAnotherReadOrPositionIsRefused)
{
    CalledBlock first;
    first.num_blocks = 2;
    first.total_events = 8;
    CalledBlock stray = first;
    stray.block_index = 1;
    stray.tag = 2;
    start(accepting({PeerAction::reply(called_block_reply(first)),
                     PeerAction::reply(called_block_reply(stray))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    EXPECT_FALSE(m_protocol.pull_from_server(&m_adapter));

    EXPECT_EQ(m_protocol.error_state().code, ConnectionError::invalid_response);
    EXPECT_EQ(m_buffer.num_submitted_reads(), 1u);
}

TEST_F(ReadProcessingProtocolTest, ReadOfAnotherClientIsABadReply)
{
    CalledBlock spec;
    spec.tag = 99;
    start(accepting({PeerAction::reply(called_block_reply(spec))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    EXPECT_FALSE(m_protocol.pull_from_server(&m_adapter));

    EXPECT_EQ(error_text(), "[bad_reply] Returned read does not belong to this client: 99");
}

TEST_F(ReadProcessingProtocolTest, GenomeNamesUpToTheFieldSizeAreAccepted)
{
    CalledBlock fits;
    fits.alignments = {{std::string(252, 'g'), 0, "sam", ""}};
    CalledBlock too_long;
    too_long.alignments = {{std::string(253, 'g'), 0, "sam", ""}};
    start(accepting({PeerAction::reply(called_block_reply(fits)),
                     PeerAction::reply(called_block_reply(too_long))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));
    ASSERT_TRUE(m_protocol.pull_from_server(&m_adapter)) << error_text();
    auto again = tamsu_test::make_read(1, tamsu_test::make_samples(1000, 2), 5);
    ASSERT_EQ(m_buffer.queue_read(again, 0), PassReadResult::success);
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    EXPECT_FALSE(m_protocol.pull_from_server(&m_adapter));

    EXPECT_EQ(error_text(), "[bad_reply] Alignment genome name " + std::string(253, 'g') +
                                    " exceeds maximum allowed size of 253");
}

TEST_F(ReadProcessingProtocolTest, MissingDurationFailsAndLeavesTheReadSubmitted)
{
    start(accepting({PeerAction::reply(called_block_reply(CalledBlock()))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));
    m_buffer.get_submitted_read_holder(1)->get_metadata().remove("duration");

    EXPECT_FALSE(m_protocol.pull_from_server(&m_adapter));

    EXPECT_EQ(error_text(), "[failed] Duration metadata missing for submitted read: 1");
    EXPECT_EQ(m_buffer.num_submitted_reads(), 1u);
    EXPECT_TRUE(m_buffer.get_submitted_read_holder(1)->get_metadata().exists("basecall_type"));
}

TEST_F(ReadProcessingProtocolTest, MalformedCalledBlocksAreInvalidResponses)
{
    std::vector<CalledBlock> broken(6);
    broken[0].with_sequence = false;
    broken[1].with_alignments = false;
    broken[2].model_stride = 0;
    broken[3].with_barcoding = true;
    broken[3].barcoding_without_lamp = true;
    broken[4].moves = {1, 0};       // fewer moves than events
    broken[5].total_events = 5000;  // more events than the read has samples
    for (const auto& spec : broken) {
        ReadBuffer buffer;
        buffer.set_max_input_queue_size(1);
        buffer.set_connection_id("conn");
        auto read = tamsu_test::make_read(1, tamsu_test::make_samples(1000, 1), 5);
        ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
        ScriptedPeer peer(accepting({PeerAction::reply(called_block_reply(spec))}));
        RequestBrokerAdapter adapter;
        ASSERT_TRUE(adapter.prepare_connection(peer.address(), 2000));
        ReadProcessingProtocol protocol;
        protocol.set_connection_id("conn");
        protocol.stop();
        protocol.process_reads(&buffer, &adapter);
        ASSERT_TRUE(protocol.push_into_server(&adapter));

        EXPECT_FALSE(protocol.pull_from_server(&adapter));

        EXPECT_EQ(protocol.error_state().code, ConnectionError::invalid_response)
                << to_string(protocol.error_state());
        EXPECT_EQ(buffer.num_submitted_reads(), 1u);
    }
}

TEST_F(ReadProcessingProtocolTest, BarcodingResultsFillTheirKeys)
{
    CalledBlock spec;
    spec.with_barcoding = true;
    start(accepting({PeerAction::reply(called_block_reply(spec))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));

    ASSERT_TRUE(m_protocol.pull_from_server(&m_adapter)) << error_text();

    std::list<std::unique_ptr<interfaces::ReadHolder>> reads;
    m_buffer.get_reads_out(reads);
    const auto& metadata = reads.front()->get_metadata();
    EXPECT_EQ(metadata.get_value<std::string>("barcode_arrangement"), "barcode01");
    EXPECT_EQ(metadata.get_value<int>("barcode_front_foundseq_length"), 3);
    EXPECT_EQ(metadata.get_value<int>("barcode_front_begin_index"), 12);
    EXPECT_EQ(metadata.get_value<int>("barcode_rear_end_index"), 12);
    EXPECT_EQ(metadata.get_value<int>("barcode_mid_rear_end_index"), 5);
    EXPECT_EQ(metadata.get_value<std::string>("lamp_target_id"), "t1");
    EXPECT_EQ(metadata.get_value<int>("adapter_end_index"), 44);
    EXPECT_EQ(metadata.get_value<int>("barcode_trim_rear"), 8);
}

TEST_F(ReadProcessingProtocolTest, LostReadsAreDroppedWithAWarning)
{
    start(accepting({PeerAction::reply(simple_reply(MessageType::NONE_PENDING, 0)),
                     PeerAction::reply(simple_reply(MessageType::NONE_PENDING, 1))}));
    ASSERT_TRUE(m_protocol.push_into_server(&m_adapter));
    tamsu_test::LogCapture capture;

    EXPECT_TRUE(m_protocol.pull_from_server(&m_adapter));
    EXPECT_EQ(m_buffer.num_submitted_reads(), 1u);
    EXPECT_TRUE(m_protocol.pull_from_server(&m_adapter));

    EXPECT_EQ(m_buffer.num_submitted_reads(), 0u);
    const auto records = capture.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].channel, "warning");
    EXPECT_EQ(records[0].message, "One or more reads has been lost on the server.");
}

}  // namespace
}  // namespace basecall_service
