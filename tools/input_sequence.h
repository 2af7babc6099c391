#pragma once

#include "tools/raw_read_source.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace tamsu_cli {

// The reads of several inputs, one input after the other, remembering which input each read id
// came from until the read is taken back, and every id met. next() and name() belong to one
// thread; the other members may be called from any thread.
class InputSequence : public RawReadSource {
public:
    // How many duplicate ids are kept to be named.
    static constexpr std::size_t k_named_duplicates = 10;

    // Opens the first input at once, so that it fails before anything else starts, and each
    // later one when the reads reach it. Throws InputError as RawReadSource::open does.
    explicit InputSequence(std::vector<std::string> paths);

    bool next(RawRead& read) override;
    // The input that the last read came from.
    const std::string& name() const override { return m_source->name(); }
    // The runs of every input, read from the signal files' headers before their reads, and
    // the name of each input with reads of no declared run, which are given that name as
    // their run id.
    std::vector<std::string> run_ids() const override;

    // The name of the input that a read with this id came from (the first such read still out),
    // forgotten once as many reads with the id were taken back as were read; empty for an
    // unknown id.
    std::string take_source(const std::string& read_id);
    // Reads whose id an earlier read had already.
    std::size_t duplicates() const;
    // The first k_named_duplicates of those ids.
    std::vector<std::string> duplicate_ids() const;

private:
    void open_next();
    void remember(const std::string& read_id);

    std::vector<std::string> m_paths;
    std::size_t m_next_path = 0;
    std::unique_ptr<RawReadSource> m_source;

    struct Origin {
        std::size_t input = 0;  // index into m_names
        std::size_t reads = 0;  // with the id, not taken back yet
    };

    mutable std::mutex m_mutex;        // guards the five members below
    std::vector<std::string> m_names;  // of the inputs reached so far
    std::unordered_map<std::string, Origin> m_origins;
    // Hashes of every id met: a run may hold millions of reads, and a full id takes several
    // times the space (two ids with one hash would pass for one, at odds of about 1 in 2^64 per
    // pair).
    std::unordered_set<std::size_t> m_seen;
    std::size_t m_duplicates = 0;
    std::vector<std::string> m_duplicate_ids;
};

}  // namespace tamsu_cli
