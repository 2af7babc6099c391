// The called blocks of one read of known length: the first block with the read-wide results
// and sub-tables, then the follow-up blocks the first one announces, reassembled into the read.
// The first byte holds the pull flags (no events, state data), the rest the replies in order.
#include "fuzz/client_exchanges.h"
#include "fuzz/reply_feed.h"

#include "basecall_service/request_broker_adapter.h"

namespace {

struct Client {
    Client()
    {
        tamsu_fuzz::quiet_logging();
        tamsu_fuzz::require(adapter.prepare_connection(feed.address(), tamsu_fuzz::k_reply_timeout),
                            "the adapter reaches the feed");
    }

    tamsu_fuzz::ReplyFeed feed;
    basecall_service::RequestBrokerAdapter adapter;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    static Client client;
    client.feed.load(tamsu_fuzz::split_replies(data + 1, size - 1));
    tamsu_fuzz::CalledReadSession session(tamsu_fuzz::pull_options(data[0]), "fuzz");
    session.assume_submitted();
    session.pull(client.adapter);
    return 0;
}
