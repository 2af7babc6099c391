#include "basecall_service/read_buffer.h"

#include "support/read_factory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
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
constexpr auto k_deadline = std::chrono::seconds(30);

ReadHolder make_read(std::uint64_t tag, unsigned long samples)
{
    return tamsu_test::make_read(tag, tamsu_test::make_samples(samples, 1), 5);
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

// FNV-1a of a message's bytes: enough to tell that the wire bytes are exactly as they were.
std::uint64_t fingerprint(ipc_tools::Message& message)
{
    zmq::message_t bytes;
    message.transfer_to_zmq(bytes);
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        hash = (hash ^ static_cast<const std::uint8_t*>(bytes.data())[i]) * 1099511628211ull;
    }
    return hash;
}

class ReadBufferTest : public ::testing::Test {
protected:
    ReadBufferTest() { buffer.set_max_input_queue_size(10); }

    void queue(std::uint64_t tag, unsigned long samples = 200)
    {
        auto read = make_read(tag, samples);
        ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
    }

    // Starts host threads whose queue_read will have to wait; their reads join `waiting`.
    std::vector<std::future<PassReadResult>> queue_in_background(std::vector<std::uint64_t> tags)
    {
        std::vector<std::future<PassReadResult>> results;
        for (const auto tag : tags) {
            auto& read = waiting.emplace_back(make_read(tag, 200));
            results.push_back(std::async(
                    std::launch::async, [this, &read] { return buffer.queue_read(read, 120000); }));
        }
        EXPECT_TRUE(ReadBufferTestAccess::wait_for_callers(buffer, tags.size()));
        return results;
    }

    std::deque<ReadHolder> waiting;  // stays put while host threads hold its reads
    std::unique_ptr<ReadBuffer> owned = std::make_unique<ReadBuffer>();
    ReadBuffer& buffer = *owned;
};

TEST_F(ReadBufferTest, ReadIsCutIntoBlocksOfBlockSizeTimesModelStride)
{
    // Sample values, offset and scaling are checked end to end through the called results.
    queue(1, 250000);
    ASSERT_EQ(buffer.next_read_messages().size(), 1u);
    EXPECT_EQ(block_of(buffer.next_read_messages()[0])->scaling_override(), nullptr);
    buffer.read_submitted();

    // Tags wider than 32 bits travel as their low half.
    auto read = make_read(0x500000007ull, 250001);
    read.get_metadata().insert("scaling_override", true);
    read.get_metadata().insert("scaling_override_median", 1.5f);
    read.get_metadata().insert("scaling_override_med_abs_dev", 0.75f);
    ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
    const auto& messages = buffer.next_read_messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].get_type(), ipc_tools::MessageType::PASS_FIRST_RAW_BLOCK);
    EXPECT_EQ(messages[1].get_type(), ipc_tools::MessageType::PASS_NEXT_RAW_BLOCK);
    for (std::uint32_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(connection_id_of(messages[i]), "<absent>");
        const auto* block = block_of(messages[i]);
        EXPECT_EQ(block->block_index(), i);
        EXPECT_EQ(block->read_tag(), 7u);
        EXPECT_EQ(block->num_blocks(), 2u);
        EXPECT_EQ(block->duration(), 250001u);
        EXPECT_EQ(block->raw_data()->size(), i == 0 ? 250000u : 1u);
        EXPECT_EQ(block->read_id()->str(), "read_21474836487");
        ASSERT_NE(block->scaling_override(), nullptr);
        EXPECT_EQ(block->scaling_override()->median(), 1.5f);
        EXPECT_EQ(block->scaling_override()->med_abs_dev(), 0.75f);
    }
}

TEST(ReadBufferBytesTest, BlockMessagesKeepTheirWireBytes)
{
    struct Case {
        std::uint64_t tag;
        unsigned long samples, stride, block_size;
        std::string connection_id;
        bool scaling_override;
        std::vector<std::uint64_t> fingerprints;  // taken from the builds before
    };
    const Case cases[] = {
            {3,
             21,
             1,
             8,
             "client-7-5f3a9c0e",
             false,
             {0xe31524bcca62531bull, 0x89390b7968d305e9ull, 0x5017815c23d69058ull}},
            {0x500000007ull, 40, 2, 10, "", true, {0x5b82956972a6319cull, 0xad31df9319a65b61ull}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tag);
        ReadBuffer buffer;
        buffer.set_max_input_queue_size(1);
        buffer.set_block_size(c.block_size);
        buffer.set_connection_id(c.connection_id);
        auto read = tamsu_test::make_read(c.tag, tamsu_test::make_samples(c.samples, 3), c.stride);
        read.get_metadata().insert("read_id", "0f8c2d7e-93b1-4a55-b6e2-1c4d9a7f3e20");
        if (c.scaling_override) {
            read.get_metadata().insert("scaling_override", true);
            read.get_metadata().insert("scaling_override_median", 1.5f);
            read.get_metadata().insert("scaling_override_med_abs_dev", 0.75f);
        }
        ASSERT_EQ(buffer.queue_read(read, 0), PassReadResult::success);
        std::vector<std::uint64_t> fingerprints;
        for (auto& message : buffer.next_read_messages()) {
            fingerprints.push_back(fingerprint(message));
        }
        EXPECT_EQ(fingerprints, c.fingerprints);
    }
}

TEST_F(ReadBufferTest, WaiterIsLetInBySubmissionAndDestructionReleasesTheRest)
{
    buffer.set_max_input_queue_size(1);
    buffer.set_connection_id("old");
    queue(1);
    auto admitted = queue_in_background({2});  // its blocks are cut with "old"
    buffer.set_connection_id("new");
    buffer.read_submitted();
    ASSERT_EQ(admitted[0].wait_for(k_deadline), std::future_status::ready);
    EXPECT_EQ(admitted[0].get(), PassReadResult::success);
    EXPECT_EQ(waiting[0].get_read_tag(), 0u);
    EXPECT_EQ(block_of(buffer.next_read_messages()[0])->read_tag(), 2u);
    EXPECT_EQ(connection_id_of(buffer.next_read_messages()[0]), "new");
    auto waiters = queue_in_background({10, 11, 12});

    owned.reset();

    for (std::size_t i = 0; i < waiters.size(); ++i) {
        ASSERT_EQ(waiters[i].wait_for(k_deadline), std::future_status::ready);
        EXPECT_EQ(waiters[i].get(), PassReadResult::not_accepting_reads);
        EXPECT_EQ(waiting[1 + i].get_read_tag(), 10u + i);
    }
}

TEST_F(ReadBufferTest, NewConnectionRequeuesSubmittedReadsFirstWithTheNewId)
{
    buffer.set_connection_id("old");
    for (std::uint64_t tag : {30, 10, 20}) {
        queue(tag);
        buffer.read_submitted();  // the "server" accepts it
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
    std::list<std::unique_ptr<ReadHolder>> out;
    buffer.get_reads_out(out);
    ASSERT_EQ(out.size(), 1u);  // finished reads stay where they are
}

TEST_F(ReadBufferTest, AnIdleWaitEndsWhenAReadIsQueued)
{
    EXPECT_FALSE(buffer.wait_for_reads(std::chrono::milliseconds(1)));
    auto waiter = std::async(std::launch::async,
                             [this] { return buffer.wait_for_reads(std::chrono::minutes(2)); });
    queue(1);
    ASSERT_EQ(waiter.wait_for(std::chrono::minutes(1)), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
}

TEST_F(ReadBufferTest, AWakeEndsOneIdleWait)
{
    auto waiter = std::async(std::launch::async,
                             [this] { return buffer.wait_for_reads(std::chrono::minutes(2)); });
    buffer.wake_worker();
    ASSERT_EQ(waiter.wait_for(std::chrono::minutes(1)), std::future_status::ready);
    EXPECT_FALSE(waiter.get());

    // A wake that comes before the wait ends that wait, and only that one.
    buffer.wake_worker();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(buffer.wait_for_reads(std::chrono::minutes(2)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(1));
    const auto timed = std::chrono::steady_clock::now();
    EXPECT_FALSE(buffer.wait_for_reads(std::chrono::milliseconds(50)));
    EXPECT_GE(std::chrono::steady_clock::now() - timed, std::chrono::milliseconds(50));
}

}  // namespace
}  // namespace basecall_service
