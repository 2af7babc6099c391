#include "server/called_read.h"

#include "ipc_tools/protocol_version.h"
#include "ipc_tools/tamsu_ipc_generated.h"

namespace reference_server {

namespace {

using flatbuffers::FlatBufferBuilder;
using flatbuffers::Offset;

template <typename T>
Offset<flatbuffers::Vector<T>> slice(FlatBufferBuilder& builder, const std::vector<T>& values,
                                     std::size_t begin, std::size_t end)
{
    return builder.CreateVector(values.data() + begin, end - begin);
}

Offset<void> build_trace(FlatBufferBuilder& builder, const CalledRead& result,
                         const BlockRange& range, bool first, tamsu_ipc::TraceResults& type)
{
    if (result.trace_kind == TraceKind::flipflop) {
        type = tamsu_ipc::TraceResults::FlipflopTraceData;
        const auto moves = slice(builder, result.moves,
                                 std::min<std::size_t>(range.event_begin, result.moves.size()),
                                 std::min<std::size_t>(range.event_end, result.moves.size()));
        const auto trace = slice(
                builder, result.trace,
                std::min<std::size_t>(std::size_t{range.event_begin} * 8, result.trace.size()),
                std::min<std::size_t>(std::size_t{range.event_end} * 8, result.trace.size()));
        return tamsu_ipc::CreateFlipflopTraceData(builder, moves, trace).Union();
    }
    type = tamsu_ipc::TraceResults::RunlengthTraceData;
    const auto runs_total = result.runs.size();
    const auto begin = std::min<std::size_t>(range.base_begin, runs_total);
    const auto end = std::min<std::size_t>(range.base_end, runs_total);
    const auto runs = slice(builder, result.runs, begin, end);
    const auto values_0 = slice(builder, result.run_values_0, begin, end);
    const auto values_1 = slice(builder, result.run_values_1, begin, end);
    const auto values_2 = slice(builder, result.run_values_2, begin, end);
    const auto values_3 = slice(builder, result.run_values_3, begin, end);
    const auto values_4 = slice(builder, result.run_values_4, begin, end);
    return tamsu_ipc::CreateRunlengthTraceData(
                   builder, first ? static_cast<std::uint32_t>(runs_total) : 0, runs, values_0,
                   values_1, values_2, values_3, values_4)
            .Union();
}

Offset<tamsu_ipc::BarcodingResultsData> build_barcoding(FlatBufferBuilder& builder,
                                                        const BarcodeAssignment& barcode)
{
    const auto front = tamsu_ipc::CreateBarcodeResultDataDirect(
            builder, barcode.front.id.c_str(), barcode.front.refseq.c_str(),
            barcode.front.foundseq.c_str(), barcode.front.score, barcode.front.index);
    const auto rear = tamsu_ipc::CreateBarcodeResultDataDirect(
            builder, barcode.rear.id.c_str(), barcode.rear.refseq.c_str(),
            barcode.rear.foundseq.c_str(), barcode.rear.score, barcode.rear.index);
    const auto mid_front = tamsu_ipc::CreateMidBarcodeResultDataDirect(
            builder, barcode.mid_front.id.c_str(), barcode.mid_front.score,
            barcode.mid_front.end_index);
    const auto mid_rear = tamsu_ipc::CreateMidBarcodeResultDataDirect(
            builder, barcode.mid_rear.id.c_str(), barcode.mid_rear.score,
            barcode.mid_rear.end_index);
    const auto lamp = tamsu_ipc::CreateLampResultDataDirect(
            builder, barcode.lamp_barcode_id.c_str(), barcode.lamp_barcode_score,
            barcode.lamp_target_id.c_str(), barcode.lamp_target_score);
    const auto adapter = tamsu_ipc::CreateAdapterResultData(builder, barcode.adapter_score,
                                                            barcode.adapter_end_index);
    return tamsu_ipc::CreateBarcodingResultsDataDirect(
            builder, barcode.trim_front, barcode.trim_rear, barcode.full_arrangement.c_str(),
            barcode.arrangement.c_str(), barcode.kit.c_str(), barcode.variant.c_str(),
            barcode.score, front, rear, mid_front, mid_rear, barcode.front_id_inner.c_str(),
            barcode.front_score_inner, barcode.rear_id_inner.c_str(), barcode.rear_score_inner,
            lamp, adapter);
}

Offset<flatbuffers::Vector<Offset<tamsu_ipc::AlignmentResultData>>>
build_alignments(FlatBufferBuilder& builder, const std::vector<AlignmentHit>& hits)
{
    std::vector<Offset<tamsu_ipc::AlignmentResultData>> records;
    for (const auto& hit : hits) {
        records.push_back(tamsu_ipc::CreateAlignmentResultDataDirect(
                builder, hit.genome.c_str(), hit.genome_start, hit.genome_end, hit.strand_start,
                hit.strand_end, hit.num_events, hit.num_insertions, hit.num_deletions,
                hit.num_aligned, hit.num_correct, hit.coverage, hit.identity, hit.accuracy,
                hit.strand_score, hit.sam_record.c_str(), hit.bed_hits, hit.bed_lines.c_str(),
                static_cast<std::int8_t>(hit.direction)));
    }
    return builder.CreateVector(records);
}

}  // namespace

void build_called_block(flatbuffers::FlatBufferBuilder& builder, const CompletedRead& read,
                        std::uint32_t block, std::uint32_t flags)
{
    const auto& result = read.result;
    const auto& range = read.blocks.at(block);
    const bool first = block == 0;
    const auto block_events = range.event_end - range.event_begin;

    const auto sequence = builder.CreateString(
            result.sequence.substr(range.base_begin, range.base_end - range.base_begin));
    const auto qstring = builder.CreateString(
            result.qstring.substr(range.base_begin, range.base_end - range.base_begin));

    auto trace_type = tamsu_ipc::TraceResults::NONE;
    Offset<void> trace;
    if ((flags & k_flag_no_events) == 0) {
        trace = build_trace(builder, result, range, first, trace_type);
    }

    Offset<tamsu_ipc::BaseModData> base_mods;
    if (!result.mod_alphabet.empty()) {
        const auto width = result.mod_alphabet.size();
        const auto probabilities = slice(builder, result.mod_probabilities,
                                         range.base_begin * width, range.base_end * width);
        const auto alphabet = first ? builder.CreateString(result.mod_alphabet) : 0;
        const auto names = first ? builder.CreateString(result.mod_long_names) : 0;
        base_mods = tamsu_ipc::CreateBaseModData(builder, alphabet, names, probabilities);
    }

    Offset<flatbuffers::Vector<float>> state_data;
    if ((flags & k_flag_state_data) != 0 && !result.state_data.empty()) {
        const std::size_t columns = result.state_size;
        state_data = slice(builder, result.state_data, range.event_begin * columns,
                           range.event_end * columns);
    }

    Offset<flatbuffers::String> basecall_type;
    Offset<tamsu_ipc::ReadScalingData> scaling;
    Offset<tamsu_ipc::BarcodingResultsData> barcoding;
    Offset<flatbuffers::Vector<Offset<tamsu_ipc::AlignmentResultData>>> alignments;
    if (first) {
        basecall_type = builder.CreateString(result.basecall_type);
        scaling = tamsu_ipc::CreateReadScalingData(
                builder, result.scaling_median, result.scaling_med_abs_dev, result.pt_median,
                result.ptsd, result.adapter_max, result.pt_detect_success);
        if (read.barcoding) {
            barcoding = build_barcoding(builder, *read.barcoding);
        }
        alignments = build_alignments(builder, read.alignments);
    }

    tamsu_ipc::CalledBlockDataBuilder called(builder);
    called.add_block_events(block_events);
    called.add_sequence(sequence);
    called.add_qstring(qstring);
    if (!trace.IsNull()) {
        called.add_trace_results_type(trace_type);
        called.add_trace_results(trace);
    }
    if (!base_mods.IsNull()) {
        called.add_base_mods(base_mods);
    }
    if (!state_data.IsNull()) {
        called.add_state_data(state_data);
    }
    if (first) {
        called.add_total_events(result.total_events);
        called.add_sequence_length(static_cast<std::uint32_t>(result.sequence.size()));
        called.add_state_size(result.state_size);
        called.add_call_score(result.call_score);
        called.add_mean_qscore(result.mean_qscore);
        called.add_stay_prob(result.stay_prob);
        called.add_step_prob(result.step_prob);
        called.add_skip_prob(result.skip_prob);
        called.add_median(result.median);
        called.add_med_abs_dev(result.med_abs_dev);
        called.add_label_length(result.label_length);
        called.add_model_stride(result.model_stride);
        called.add_trimmed_samples(result.trimmed_samples);
        called.add_basecall_type(basecall_type);
        called.add_scaling(scaling);
        if (!barcoding.IsNull()) {
            called.add_barcoding(barcoding);
        }
        called.add_alignments(alignments);
    }
    const auto called_block = called.Finish();

    const auto read_id = builder.CreateString(read.read_id);
    const auto block_type = first ? tamsu_ipc::ReadBlockType::RETURN_FIRST_CALLED_BLOCK
                                  : tamsu_ipc::ReadBlockType::RETURN_NEXT_CALLED_BLOCK;
    const auto content = tamsu_ipc::CreateReadBlockData(
            builder, block_type, read.read_tag, block,
            static_cast<std::uint32_t>(read.blocks.size()), read.duration, read.daq_offset,
            read.daq_scaling, read_id, 0, called_block);

    tamsu_ipc::MessageDataBuilder root(builder);
    root.add_version(&ipc_tools::current_protocol_version());
    root.add_content_type(tamsu_ipc::MessageContent::ReadBlockData);
    root.add_content(content.Union());
    builder.Finish(root.Finish(), ipc_tools::k_file_identifier);
}

}  // namespace reference_server
