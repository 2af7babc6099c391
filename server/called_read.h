#pragma once

#include "server/barcoder.h"
#include "server/reference_data.h"
#include "server/toy_caller.h"

#include <boost/optional.hpp>
#include <flatbuffers/flatbuffers.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace reference_server {

// A called read waiting to be returned, with everything its reply blocks carry.
struct CompletedRead {
    std::uint32_t read_tag = 0;
    std::string read_id;
    std::uint32_t duration = 0;
    float daq_offset = 0.0f;
    float daq_scaling = 0.0f;
    CalledRead result;
    std::vector<BlockRange> blocks;  // one per raw block the read arrived in
    boost::optional<BarcodeAssignment> barcoding;
    std::vector<AlignmentHit> alignments;
    std::chrono::steady_clock::time_point ready_at;
};

// Bits of the GET_FIRST_CALLED_BLOCK value.
constexpr std::uint32_t k_flag_no_events = 1;
constexpr std::uint32_t k_flag_state_data = 2;

// Builds the complete RETURN_FIRST_CALLED_BLOCK (block 0) or RETURN_NEXT_CALLED_BLOCK message
// for block `block` of `read`. Block 0 carries the read-wide sizes and scalar results, the
// barcoding table when there is one and always an alignments vector; every block carries its
// own events, bases and, unless `flags` says otherwise, trace or run results and state data.
void build_called_block(flatbuffers::FlatBufferBuilder& builder, const CompletedRead& read,
                        std::uint32_t block, std::uint32_t flags);

}  // namespace reference_server
