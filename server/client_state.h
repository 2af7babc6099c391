#pragma once

#include "ipc_tools/connection_info.h"
#include "server/called_read.h"
#include "server/catalogue.h"
#include "server/reference_data.h"
#include "server/toy_caller.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace reference_server {

// A read whose raw blocks are still arriving.
struct IncomingRead {
    std::uint32_t read_tag = 0;
    std::string read_id;
    std::uint32_t num_blocks = 0;
    std::uint32_t next_block = 0;
    std::uint32_t duration = 0;
    float daq_offset = 0.0f;
    float daq_scaling = 0.0f;
    boost::optional<ScalingOverride> scaling_override;
    std::vector<std::int16_t> samples;  // empty when calling is switched off
    std::vector<std::uint32_t> block_samples;

    std::uint32_t sample_total() const
    {
        return std::accumulate(block_samples.begin(), block_samples.end(), std::uint32_t{0});
    }
};

// A called read whose first block has gone out and whose further blocks are being fetched.
struct OutgoingRead {
    std::shared_ptr<CompletedRead> read;
    std::uint32_t next_block = 1;
    std::uint32_t flags = 0;
};

// How a client's reads are called, besides the reads themselves.
struct CallSettings {
    const ConfigDefinition* config = nullptr;
    std::vector<const BarcodeKit*> kits;
    const LampKit* lamp = nullptr;
    bool trim_barcodes = false;
    std::shared_ptr<const AlignmentIndex> index;
    std::shared_ptr<const BedFile> bed;
};

// One connected client and every read of it the server holds.
struct ClientState {
    std::string id;
    std::string owner_key;          // the CURVE key that connected it; empty without CURVE
    std::string connection_string;  // as received, so tests can check what the client sent
    ipc_tools::ConnectionInfo info;
    std::uint32_t priority = 0;
    CallSettings call;

    std::map<std::uint32_t, IncomingRead> receiving;
    std::map<std::uint64_t, std::string> calling;  // job number -> read id
    std::vector<std::shared_ptr<CompletedRead>> completed;
    std::map<std::uint32_t, OutgoingRead> sending;
    std::vector<std::string> lost;  // ids of reads dropped since the last loss report
    bool pick_newest = true;        // alternates, so that reads come back out of order
    std::uint32_t reads_returned = 0;

    std::size_t reads_in_flight() const
    {
        return receiving.size() + calling.size() + completed.size() + sending.size();
    }
};

}  // namespace reference_server
