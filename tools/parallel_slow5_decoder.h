#pragma once

#include "tools/raw_read.h"
#include "tools/slow5_record_decoder.h"

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct slow5_file;

namespace tamsu_cli {

// Decodes the records of one SLOW5/BLOW5 file on several threads and hands the reads out in
// file order, then the first failure where it occurred. Each thread fetches a record's bytes in
// turn and decodes them with a decoder of its own; at most `capacity` records are fetched and
// not yet handed out. The threads start at construction and belong to this object; next()
// belongs to one thread.
class ParallelSlow5Decoder {
public:
    // Reads from `file` (which must outlive this object), named `path` in messages;
    // `run_ids`: the run id of each read group. Throws InputError when the file cannot be
    // opened again for the decoders.
    ParallelSlow5Decoder(slow5_file& file, const std::string& path,
                         const std::vector<std::string>& run_ids, std::size_t threads,
                         std::size_t capacity);
    // Stops the threads after the records in hand and joins them.
    ~ParallelSlow5Decoder();
    ParallelSlow5Decoder(const ParallelSlow5Decoder&) = delete;
    ParallelSlow5Decoder& operator=(const ParallelSlow5Decoder&) = delete;

    // The next read in file order, or false at the end. Throws the InputError of a record that
    // could not be read or decoded once every record before it was handed out.
    bool next(RawRead& read);

    // One fewer than the cores there are, from one to four.
    static std::size_t default_threads();

private:
    struct Slot {
        bool ready = false;
        RawRead read;
        std::exception_ptr error;
    };

    void stop();
    void work(Slow5RecordDecoder& decoder);
    // The next record's bytes and index once there is room for it; false when there are none.
    bool take(Slow5RecordBytes& bytes, std::size_t& index);
    void put(std::size_t index, RawRead read, std::exception_ptr error);

    slow5_file& m_file;
    const std::string m_name;
    std::vector<std::unique_ptr<Slow5RecordDecoder>> m_decoders;  // one per thread

    std::mutex m_mutex;               // guards the reads from m_file and the five members below
    std::condition_variable m_ready;  // for next(): a record's slot was filled, or none is left
    std::condition_variable m_room;   // for the threads: a slot was freed, or they are to stop
    std::vector<Slot> m_slots;        // record i's read in slot i % size
    std::size_t m_fetched = 0;        // records taken from the file
    std::size_t m_handed = 0;         // reads handed out
    bool m_fetch_ended = false;       // the file has no more records, or one failed
    bool m_stop = false;

    std::vector<std::thread> m_threads;
};

}  // namespace tamsu_cli
