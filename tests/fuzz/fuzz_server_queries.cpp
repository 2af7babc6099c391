// The replies to the one-shot server queries (statistics, barcode and LAMP kits, server
// information and state), through the public query functions and the kit definitions. The first
// byte picks the query, the rest is its reply.
#include "fuzz/client_exchanges.h"
#include "fuzz/reply_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    static tamsu_fuzz::ReplyFeed feed;
    tamsu_fuzz::quiet_logging();
    feed.load({tamsu_fuzz::Bytes(data + 1, data + size)});
    tamsu_fuzz::run_query(data[0], feed.address());
    return 0;
}
