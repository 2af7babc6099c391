#include "fuzz/reply_feed.h"

#include <boost/filesystem/operations.hpp>
#include <boost/log/core/core.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace tamsu_fuzz {

namespace {

const std::string& separator()
{
    static const std::string text(k_reply_separator);
    return text;
}

}  // namespace

std::vector<Bytes> split_replies(const std::uint8_t* data, std::size_t size)
{
    std::vector<Bytes> replies;
    const auto* end = data + size;
    const auto* begin = data;
    while (true) {
        const auto* found = std::search(begin, end, separator().begin(), separator().end());
        replies.emplace_back(begin, found);
        if (found == end) {
            return replies;
        }
        begin = found + separator().size();
    }
}

Bytes join_replies(const std::vector<Bytes>& replies)
{
    Bytes joined;
    for (std::size_t index = 0; index < replies.size(); ++index) {
        if (index > 0) {
            joined.insert(joined.end(), separator().begin(), separator().end());
        }
        joined.insert(joined.end(), replies[index].begin(), replies[index].end());
    }
    return joined;
}

void require(bool condition, const char* property)
{
    if (!condition) {
        std::fprintf(stderr, "Property does not hold: %s\n", property);
        std::abort();
    }
}

void quiet_logging()
{
    boost::log::core::get()->set_logging_enabled(false);
}

std::string private_endpoint()
{
    const auto path = boost::filesystem::temp_directory_path() /
                      boost::filesystem::unique_path("tamsu-fuzz-%%%%-%%%%-%%%%.sock");
    return "ipc://" + path.string();
}

ReplyFeed::ReplyFeed()
        : m_peer([this](const tamsu_test::ReceivedRequest&) { return next(); }, private_endpoint(),
                 false)
{
}

void ReplyFeed::load(std::vector<Bytes> replies)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replies = std::move(replies);
    m_next = 0;
}

tamsu_test::PeerAction ReplyFeed::next()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return tamsu_test::PeerAction::raw(m_next < m_replies.size() ? m_replies[m_next++] : Bytes());
}

}  // namespace tamsu_fuzz
