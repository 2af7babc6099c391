// The replies of a client's handshake: file loads, configuration and index lists, the CONNECT
// answer and, after a successful handshake, the farewell. The input holds the replies in order.
#include "fuzz/client_exchanges.h"
#include "fuzz/reply_feed.h"

namespace {

struct Client {
    Client()
    {
        tamsu_fuzz::quiet_logging();
        tamsu_fuzz::write_reference_files();
    }

    tamsu_fuzz::ReplyFeed feed;
    tamsu_fuzz::Handshake handshake{feed.address(),
                                    tamsu_fuzz::handshake_info("toy_flipflop_fast")};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Client client;
    client.feed.load(tamsu_fuzz::split_replies(data, size));
    if (client.handshake.connect()) {
        client.handshake.disconnect();
    }
    return 0;
}
