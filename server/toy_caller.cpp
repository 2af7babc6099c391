#include "server/toy_caller.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace reference_server {

namespace {

constexpr char k_bases[] = "ACGT";

float median_of(std::vector<float> values)
{
    if (values.empty()) {
        return 0.0f;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

void add_runs(CalledRead& read, const std::vector<float>& levels, const std::vector<int>& quals)
{
    const auto bases = read.base_events.size();
    read.runs.reserve(bases);
    for (std::size_t i = 0; i < bases; ++i) {
        const auto start = read.base_events[i];
        const auto end = i + 1 < bases ? read.base_events[i + 1] : read.total_events;
        const auto length = std::min<std::uint32_t>(end - start, 255);
        read.runs.push_back(static_cast<std::uint8_t>(length));
        read.run_values_0.push_back(levels[start]);
        read.run_values_1.push_back(1.0f + 0.5f * static_cast<float>(length));
        read.run_values_2.push_back(static_cast<float>(quals[i]) / 10.0f);
        read.run_values_3.push_back(start);
        read.run_values_4.push_back(length * read.model_stride);
    }
}

void add_mod_probabilities(CalledRead& read)
{
    const auto& alphabet = read.mod_alphabet;
    read.mod_probabilities.assign(read.sequence.size() * alphabet.size(), 0);
    for (std::size_t i = 0; i < read.sequence.size(); ++i) {
        const char base = read.sequence[i];
        const auto modified =
                static_cast<std::uint8_t>((read.event_mix[read.base_events[i]] >> 5) & 0xff);
        for (std::size_t j = 0; j < alphabet.size(); ++j) {
            std::uint8_t value = 0;
            if (alphabet[j] == base) {
                value = base == 'C' ? static_cast<std::uint8_t>(255 - modified) : 255;
            } else if (alphabet[j] == 'm' && base == 'C') {
                value = modified;
            }
            read.mod_probabilities[i * alphabet.size() + j] = value;
        }
    }
}

}  // namespace

CalledRead ToyCaller::call(const std::vector<std::int16_t>& samples, float daq_offset,
                           float daq_scaling, const ConfigDefinition& config, CallFlags flags,
                           const boost::optional<ScalingOverride>& scaling_override)
{
    CalledRead read;
    read.basecall_type = config.basecall_type;
    read.trace_kind = config.trace_kind;
    read.model_stride = std::max<std::uint32_t>(config.model_stride, 1);
    read.label_length = config.label_length;
    read.state_size = config.state_size;
    read.mod_alphabet = config.mod_alphabet;
    read.mod_long_names = config.mod_long_names;

    const auto stride = read.model_stride;
    const auto events = static_cast<std::uint32_t>(samples.size() / stride);
    read.total_events = events;
    read.trimmed_samples =
            static_cast<std::uint32_t>(samples.size() - std::size_t{events} * stride);

    const bool flipflop = config.trace_kind == TraceKind::flipflop;
    const bool want_trace = flags.events && flipflop;
    read.event_mix.resize(events);
    if (want_trace) {
        read.moves.resize(events);
        read.trace.resize(std::size_t{events} * 8);
    }
    std::vector<float> levels(events);
    std::vector<int> quals;
    std::uint32_t move_count = 0;
    std::uint32_t last_base = 0;
    long quality_sum = 0;
    for (std::uint32_t e = 0; e < events; ++e) {
        const auto* first = samples.data() + std::size_t{e} * stride;
        const std::int32_t sum = std::accumulate(first, first + stride, std::int32_t{0});
        levels[e] =
                (static_cast<float>(sum) / static_cast<float>(stride) + daq_offset) * daq_scaling;
        const std::uint32_t mix = static_cast<std::uint32_t>(sum) * 2654435761u + e * 40503u;
        read.event_mix[e] = mix;
        const bool move = e == 0 || (mix >> 7) % 3 != 0;
        if (move) {
            last_base = (mix >> 11) % 4;
            const int quality = 2 + static_cast<int>((mix >> 17) % 30);
            read.sequence.push_back(k_bases[last_base]);
            read.qstring.push_back(static_cast<char>(33 + quality));
            read.base_events.push_back(e);
            quals.push_back(quality);
            quality_sum += quality;
            ++move_count;
        }
        if (want_trace) {
            read.moves[e] = move ? 1 : 0;
            const auto hot = last_base + (move ? 0 : 4);
            auto* row = read.trace.data() + std::size_t{e} * 8;
            for (std::uint32_t j = 0; j < 8; ++j) {
                row[j] = static_cast<std::uint8_t>(j == hot ? 200 + mix % 56
                                                            : (mix >> (3 * j)) % 16);
            }
        }
    }

    if (flags.events && !flipflop) {
        add_runs(read, levels, quals);
    }
    if (!read.mod_alphabet.empty()) {
        add_mod_probabilities(read);
    }
    if (flags.state_data) {
        add_state_data(read);
    }

    if (scaling_override) {
        read.median = scaling_override->median;
        read.med_abs_dev = scaling_override->med_abs_dev;
    } else {
        read.median = median_of(levels);
        std::vector<float> deviations(levels.size());
        std::transform(levels.begin(), levels.end(), deviations.begin(),
                       [&](float level) { return std::abs(level - read.median); });
        read.med_abs_dev = median_of(std::move(deviations));
    }
    const auto bases = static_cast<float>(read.sequence.size());
    read.mean_qscore = bases > 0 ? static_cast<float>(quality_sum) / bases : 0.0f;
    read.call_score = read.mean_qscore * config.qscore_scale + config.qscore_offset;
    if (events > 0) {
        read.step_prob = static_cast<float>(move_count) / static_cast<float>(events);
        read.stay_prob = static_cast<float>(events - move_count) / static_cast<float>(events);
    }
    read.skip_prob = 0.0f;
    read.scaling_median = read.median;
    read.scaling_med_abs_dev = read.med_abs_dev;
    read.pt_median = read.median + 10.0f;
    read.ptsd = read.med_abs_dev / 2.0f;
    read.adapter_max = levels.empty() ? 0.0f : *std::max_element(levels.begin(), levels.end());
    read.pt_detect_success = events >= 10;
    return read;
}

void ToyCaller::add_state_data(CalledRead& read)
{
    const std::size_t columns = read.state_size;
    read.state_data.resize(read.event_mix.size() * columns);
    for (std::size_t e = 0; e < read.event_mix.size(); ++e) {
        const auto mix = read.event_mix[e];
        for (std::size_t k = 0; k < columns; ++k) {
            read.state_data[e * columns + k] =
                    static_cast<float>((mix >> (k % 24)) & 0xff) / 255.0f;
        }
    }
}

CalledRead ToyCaller::empty_result(std::uint32_t sample_count, const ConfigDefinition& config)
{
    CalledRead read;
    read.basecall_type = config.basecall_type;
    read.trace_kind = config.trace_kind;
    read.model_stride = std::max<std::uint32_t>(config.model_stride, 1);
    read.label_length = config.label_length;
    read.trimmed_samples = sample_count;
    return read;
}

std::vector<BlockRange> ToyCaller::block_ranges(const CalledRead& read,
                                                const std::vector<std::uint32_t>& block_samples)
{
    std::vector<BlockRange> ranges;
    ranges.reserve(block_samples.size());
    std::uint64_t samples_so_far = 0;
    std::uint32_t event = 0;
    std::uint32_t base = 0;
    for (const auto count : block_samples) {
        samples_so_far += count;
        BlockRange range;
        range.event_begin = event;
        range.event_end = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(read.total_events, samples_so_far / read.model_stride));
        range.base_begin = base;
        const auto end =
                std::lower_bound(read.base_events.begin(), read.base_events.end(), range.event_end);
        range.base_end = static_cast<std::uint32_t>(end - read.base_events.begin());
        event = range.event_end;
        base = range.base_end;
        ranges.push_back(range);
    }
    return ranges;
}

}  // namespace reference_server
