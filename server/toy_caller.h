#pragma once

#include "server/catalogue.h"

#include <boost/optional.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace reference_server {

// What the caller should produce beyond sequence, qualities and scalar results.
struct CallFlags {
    bool events = true;       // moves and trace, or run-length results
    bool state_data = false;  // events x state_size floats
};

struct ScalingOverride {
    float median = 0.0f;
    float med_abs_dev = 0.0f;
};

// The full called result of one read. Vectors that a configuration or the flags do not produce
// are empty.
struct CalledRead {
    std::string basecall_type;
    TraceKind trace_kind = TraceKind::flipflop;
    std::uint32_t model_stride = 1;
    std::uint32_t label_length = 1;
    std::uint32_t state_size = 0;
    std::uint32_t total_events = 0;
    std::uint32_t trimmed_samples = 0;

    std::string sequence;
    std::string qstring;
    std::vector<std::uint32_t> base_events;  // the event at which each base was called
    std::vector<std::uint32_t> event_mix;    // per-event hash every other field derives from

    std::vector<std::uint8_t> moves;  // one per event
    std::vector<std::uint8_t> trace;  // eight per event

    std::vector<std::uint8_t> runs;  // one per base: run length in events, capped at 255
    std::vector<float> run_values_0;
    std::vector<float> run_values_1;
    std::vector<float> run_values_2;
    std::vector<std::uint32_t> run_values_3;
    std::vector<std::uint32_t> run_values_4;

    std::string mod_alphabet;
    std::string mod_long_names;
    std::vector<std::uint8_t> mod_probabilities;  // one per base per alphabet letter

    std::vector<float> state_data;  // total_events x state_size

    float mean_qscore = 0.0f;
    float call_score = 0.0f;
    float stay_prob = 0.0f;
    float step_prob = 0.0f;
    float skip_prob = 0.0f;
    float median = 0.0f;
    float med_abs_dev = 0.0f;

    float scaling_median = 0.0f;
    float scaling_med_abs_dev = 0.0f;
    float pt_median = 0.0f;
    float ptsd = 0.0f;
    float adapter_max = 0.0f;
    bool pt_detect_success = false;
};

// The part of a called read that travels in one block.
struct BlockRange {
    std::uint32_t event_begin = 0;
    std::uint32_t event_end = 0;
    std::uint32_t base_begin = 0;
    std::uint32_t base_end = 0;
};

// A deterministic stand-in for a basecaller, so that every field of a reply can be predicted.
// All functions are pure and thread-safe.
//
// With S the configuration's model stride and n samples, there are E = n / S events; event e
// covers samples [e*S, (e+1)*S) and the n - E*S samples left over are "trimmed". For event e:
//   sum_e   = sum of the event's raw samples;  level_e = (sum_e / S + daq_offset) * daq_scaling
//   mix_e   = uint32(sum_e) * 2654435761 + e * 40503          (unsigned 32-bit arithmetic)
//   move_e  = 1 for e == 0, else 1 when (mix_e >> 7) % 3 != 0, else 0
//   a move calls the base "ACGT"[(mix_e >> 11) % 4] with quality q = 2 + (mix_e >> 17) % 30,
//   written as the character 33 + q
//   trace   = eight values; the hot state is the last base's index (0-3), plus 4 on a stay;
//             hot value 200 + mix_e % 56, others (mix_e >> 3j) % 16 for column j
//   state   = state_size values (mix_e >> (k % 24) & 0xff) / 255 for column k
// Run-length configurations produce no moves and trace but one run per base: run length =
// events from its move to the next move (capped at 255); values 0 to 4 are the level of the
// base's event, 1 + 0.5 * length, q / 10, the base's event index and length * S.
// Base modification configurations give per base and alphabet letter: 255 for the base's own
// letter, except for C, which gets 255 - m and the letter "m" gets m, m = (mix_e >> 5) & 0xff.
// Scalars: median and med_abs_dev of the event levels (or the override), mean_qscore of the
// base qualities, call_score = mean_qscore * qscore_scale + qscore_offset, stay_prob and
// step_prob the fractions of stay and move events, skip_prob 0; the scaling table repeats the
// median and MAD, pt_median = median + 10, ptsd = MAD / 2, adapter_max the highest level,
// pt_detect_success when there are at least 10 events.
class ToyCaller {
public:
    static CalledRead call(const std::vector<std::int16_t>& samples, float daq_offset,
                           float daq_scaling, const ConfigDefinition& config, CallFlags flags,
                           const boost::optional<ScalingOverride>& scaling_override = {});

    // Fills `read.state_data` from its per-event hashes (what call() does with state_data set).
    static void add_state_data(CalledRead& read);

    // A read with no events and no bases, for when calling is switched off.
    static CalledRead empty_result(std::uint32_t sample_count, const ConfigDefinition& config);

    // The events and bases carried by each block when the read arrived in blocks of the given
    // sample counts: block i holds the events whose last sample lies in raw block i.
    static std::vector<BlockRange> block_ranges(const CalledRead& read,
                                                const std::vector<std::uint32_t>& block_samples);
};

}  // namespace reference_server
