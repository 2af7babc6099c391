#include "basecall_service/read_buffer.h"

#include "common/diagnostics/state/concrete_state_logger.h"
#include "common/diagnostics/state/state_formatter.h"
#include "support/read_factory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace basecall_service {

// Lets tests act while host threads are known to be inside queue_read.
class ReadBufferTestAccess {
public:
    static bool wait_for_callers(const ReadBuffer& buffer, std::uint64_t count)
    {
        for (int polls = 0; polls < 30000; ++polls) {
            if (std::lock_guard<std::mutex> lock(buffer.m_mutex);
                buffer.m_callers_inside == count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
};

namespace {

using interfaces::ReadHolder;
using ReadList = std::list<std::unique_ptr<ReadHolder>>;
constexpr auto k_deadline = std::chrono::seconds(30);

std::int16_t sample_at(std::size_t index)
{
    return static_cast<std::int16_t>(index * 7);
}

ReadHolder make_read(std::uint64_t tag, unsigned long samples)
{
    std::vector<std::int16_t> raw(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        raw[i] = sample_at(i);
    }
    return tamsu_test::make_read(tag, raw, 5);
}

std::vector<ReadHolder> reads_tagged(std::initializer_list<std::uint64_t> tags)
{
    std::vector<ReadHolder> reads;
    for (const auto tag : tags) {
        reads.push_back(make_read(tag, 200));
    }
    return reads;
}

const tamsu_ipc::ReadBlockData* block_of(const ipc_tools::Message& message)
{
    return message.get_message_data()->content_as_ReadBlockData();
}

std::string connection_id_of(const ipc_tools::Message& message)
{
    const auto* id = message.get_message_data()->connection_id();
    return id ? id->str() : "<absent>";
}

class ReadBufferTest : public ::testing::Test {
protected:
    ReadBufferTest() { buffer.set_max_input_queue_size(10); }

    void queue(std::uint64_t tag, unsigned long samples = 200)
    {
        auto read = make_read(tag, samples);
        ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
    }

    // Queues a read and lets the "server" accept it.
    void submit(std::uint64_t tag)
    {
        queue(tag);
        buffer.read_submitted();
    }

    // Starts host threads whose queue_read will have to wait.
    std::vector<std::future<PassReadResult>> queue_in_background(std::vector<ReadHolder>& reads)
    {
        std::vector<std::future<PassReadResult>> results;
        for (auto& read : reads) {
            results.push_back(std::async(
                    std::launch::async, [this, &read] { return buffer.queue_read(read, 120000); }));
        }
        EXPECT_TRUE(ReadBufferTestAccess::wait_for_callers(buffer, reads.size()));
        return results;
    }

    std::unique_ptr<ReadBuffer> owned = std::make_unique<ReadBuffer>();
    ReadBuffer& buffer = *owned;
};

TEST_F(ReadBufferTest, ReadIsCutIntoBlocksOfBlockSizeTimesModelStride)
{
    queue(1, 250000);
    ASSERT_EQ(buffer.next_read_messages().size(), 1u);
    EXPECT_EQ(block_of(buffer.next_read_messages()[0])->num_blocks(), 1u);
    buffer.read_submitted();

    // Tags wider than 32 bits travel as their low half.
    queue(0x500000007ull, 250001);
    const auto& messages = buffer.next_read_messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].get_type(), ipc_tools::MessageType::PASS_FIRST_RAW_BLOCK);
    EXPECT_EQ(messages[1].get_type(), ipc_tools::MessageType::PASS_NEXT_RAW_BLOCK);
    for (std::uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const auto* data = messages[i].get_message_data();
        EXPECT_EQ(data->connection_id(), nullptr);
        EXPECT_EQ(data->version()->major(), 7u);
        const auto* block = block_of(messages[i]);
        EXPECT_EQ(block->block_index(), i);
        EXPECT_EQ(block->read_tag(), 7u);
        EXPECT_EQ(block->num_blocks(), 2u);
        EXPECT_EQ(block->duration(), 250001u);
        EXPECT_EQ(block->daq_offset(), tamsu_test::k_daq_offset);
        EXPECT_EQ(block->daq_scaling(), tamsu_test::k_daq_scaling);
        EXPECT_EQ(block->read_id()->str(), "read_21474836487");
        EXPECT_EQ(block->scaling_override(), nullptr);
    }
    const auto* first = block_of(messages[0])->raw_data();
    ASSERT_EQ(first->size(), 250000u);
    EXPECT_EQ(first->Get(0), sample_at(0));
    EXPECT_EQ(first->Get(249999), sample_at(249999));
    ASSERT_EQ(block_of(messages[1])->raw_data()->size(), 1u);
    EXPECT_EQ(block_of(messages[1])->raw_data()->Get(0), sample_at(250000));
}

TEST_F(ReadBufferTest, BlocksCarryTheConnectionIdAndScalingOverrideWhenSet)
{
    buffer.set_block_size(10);  // 50 samples per block
    buffer.set_connection_id("conn-1");
    // Not overridden, overridden with the defaults (zeros, so absent on the wire), and given.
    const std::vector<std::vector<float>> overrides{{}, {0.f, 0.f}, {1.5f, 0.75f}};
    for (const auto& values : overrides) {
        auto read = make_read(1, 100);
        if (!values.empty()) {
            read.get_metadata().insert("scaling_override", true);
        }
        if (values.size() == 2 && values[0] != 0.f) {
            read.get_metadata().insert("scaling_override_median", values[0]);
            read.get_metadata().insert("scaling_override_med_abs_dev", values[1]);
        }
        ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
        EXPECT_EQ(buffer.next_read_messages().size(), 2u);
        for (const auto& message : buffer.next_read_messages()) {
            EXPECT_EQ(connection_id_of(message), "conn-1");
            const auto* table = block_of(message)->scaling_override();
            ASSERT_EQ(table == nullptr, values.empty());
            if (table) {
                const auto* raw = reinterpret_cast<const flatbuffers::Table*>(table);
                EXPECT_EQ(raw->CheckField(tamsu_ipc::ScalingOverrideData::VT_MEDIAN),
                          values[0] != 0.f);
                EXPECT_EQ(table->median(), values[0]);
                EXPECT_EQ(table->med_abs_dev(), values[1]);
            }
        }
        buffer.read_submitted();
        buffer.read_retrieved(1);
    }
}

TEST_F(ReadBufferTest, ShortReadGoesStraightToTheOutputQueueEvenWhenFull)
{
    buffer.set_max_input_queue_size(0);
    auto read = make_read(9, 99);  // fewer than 20 strides of 5
    ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
    EXPECT_EQ(read.get_read_tag(), 0u);
    EXPECT_TRUE(buffer.all_reads_processed());
    ReadList out;
    buffer.get_reads_out(out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out.front()->get_metadata().get_value<std::string>("read_id"), "read_9");

    auto long_enough = make_read(10, 100);
    EXPECT_EQ(buffer.queue_read(long_enough, 0), PassReadResult::queue_full);
    EXPECT_EQ(long_enough.get_read_tag(), 10u);
}

TEST_F(ReadBufferTest, WaiterIsLetInBySubmissionAndRefusedOnClosing)
{
    buffer.set_max_input_queue_size(1);
    buffer.set_connection_id("old");
    queue(1);
    auto second = reads_tagged({2});
    auto admitted = queue_in_background(second);  // its blocks are cut with "old"
    buffer.set_connection_id("new");
    buffer.read_submitted();
    ASSERT_EQ(admitted[0].wait_for(k_deadline), std::future_status::ready);
    EXPECT_EQ(admitted[0].get(), PassReadResult::success);
    EXPECT_EQ(second[0].get_read_tag(), 0u);
    EXPECT_EQ(block_of(buffer.next_read_messages()[0])->read_tag(), 2u);
    EXPECT_EQ(connection_id_of(buffer.next_read_messages()[0]), "new");

    auto third = reads_tagged({3});
    auto refused = queue_in_background(third);
    buffer.set_no_more_data();
    ASSERT_EQ(refused[0].wait_for(k_deadline), std::future_status::ready);
    EXPECT_EQ(refused[0].get(), PassReadResult::not_accepting_reads);
    EXPECT_EQ(third[0].get_read_tag(), 3u);

    buffer.read_submitted();  // room again, but closed
    EXPECT_EQ(buffer.queue_read(third[0], 0), PassReadResult::not_accepting_reads);
}

TEST_F(ReadBufferTest, DestructionReleasesHostThreadsWaitingToQueue)
{
    buffer.set_max_input_queue_size(1);
    queue(1);
    auto reads = reads_tagged({10, 11, 12});
    auto waiters = queue_in_background(reads);

    owned.reset();

    for (std::size_t i = 0; i < waiters.size(); ++i) {
        ASSERT_EQ(waiters[i].wait_for(k_deadline), std::future_status::ready);
        EXPECT_EQ(waiters[i].get(), PassReadResult::not_accepting_reads);
        EXPECT_EQ(reads[i].get_read_tag(), 10u + i);
    }
}

TEST_F(ReadBufferTest, NewConnectionRequeuesSubmittedReadsFirstWithTheNewId)
{
    buffer.set_connection_id("old");
    for (std::uint64_t tag : {30, 10, 20}) {
        submit(tag);
    }
    queue(50);
    queue(40);
    auto finished = make_read(99, 10);
    buffer.put_read_on_output_queue(finished);

    buffer.set_connection_id("new");
    EXPECT_EQ(buffer.num_submitted_reads(), 0u);
    ASSERT_EQ(buffer.num_queued_reads(), 5u);
    std::vector<std::uint64_t> order;
    while (buffer.num_queued_reads() > 0) {
        const auto& messages = buffer.next_read_messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(connection_id_of(messages[0]), "new");
        order.push_back(block_of(messages[0])->read_tag());
        buffer.read_submitted();
    }
    EXPECT_EQ(order, (std::vector<std::uint64_t>{10, 20, 30, 50, 40}));
    ReadList out;
    buffer.get_reads_out(out);
    ASSERT_EQ(out.size(), 1u);  // finished reads stay where they are
}

TEST_F(ReadBufferTest, SecondReadWithATagInFlightIsRefused)
{
    submit(5);
    queue(6);
    auto twin_of_submitted = make_read(5, 300);
    auto twin_of_queued = make_read(6, 300);

    EXPECT_TRUE(buffer.is_in_flight(5));
    EXPECT_TRUE(buffer.is_in_flight(6));
    EXPECT_FALSE(buffer.is_in_flight(7));
    EXPECT_EQ(buffer.queue_read(twin_of_submitted, 0), PassReadResult::invalid_read);
    EXPECT_EQ(buffer.queue_read(twin_of_queued, 0), PassReadResult::invalid_read);
    EXPECT_EQ(twin_of_queued.get_metadata().get_value<unsigned long>("duration"), 300u);

    buffer.read_retrieved(5);
    EXPECT_FALSE(buffer.is_in_flight(5));
    EXPECT_EQ(buffer.queue_read(twin_of_submitted, 0), PassReadResult::success);
}

TEST_F(ReadBufferTest, ReportListsQueuesAndSettings)
{
    buffer.set_max_input_queue_size(7);
    buffer.set_block_size(1234);
    buffer.set_connection_id("abc");
    submit(1);
    queue(2);
    queue(3, 10);  // short: finished at once
    std::vector<common::diagnostics::state::StateRecord> records;
    common::diagnostics::state::detail::ConcreteStateLogger logger(records);

    buffer.report_state(logger);

    EXPECT_EQ(common::diagnostics::state::IndentationFormatter()(records),
              "\nm_queued_reads (awaiting pushing to server): 1"
              "\nm_message_queue_in (awaiting sending to server): 1"
              "\nm_submitted_reads (pushed to server not yet pulled): 1"
              "\nm_reads_out (output queue of reads from server): 1"
              "\nm_max_input_queue_size: 7\nm_block_size : 1234\nm_connection_id : abc\n");
}

}  // namespace
}  // namespace basecall_service
