#include "tools/called_read.h"

#include "client/read.h"

namespace tamsu_cli {

namespace {

std::string dataset_text(const tamsu::Read& read, interfaces::dataset slot)
{
    const auto found = read.get_datasets().find(slot);
    return found == read.get_datasets().end() ? std::string() : found->second.get_string();
}

std::vector<std::uint8_t> dataset_bytes(const tamsu::Read& read, interfaces::dataset slot)
{
    const auto found = read.get_datasets().find(slot);
    if (found == read.get_datasets().end()) {
        return {};
    }
    const auto* bytes = found->second.get_array<std::uint8_t>();
    return {bytes, bytes + found->second.element_count};
}

template <typename T>
T metadata_value(const tamsu::Read& read, const char* key, T fallback)
{
    T* value = nullptr;
    return read.get_metadata().extract(key, value) ? *value : fallback;
}

void take_alignment(const tamsu::Read& read, CalledRead& called)
{
    called.aligned = true;
    called.alignment_genome = read.get_by_name("alignment_genome");
    called.alignment_start = metadata_value<int>(read, "alignment_genome_start", 0);
    called.alignment_end = metadata_value<int>(read, "alignment_genome_end", 0);
    called.alignment_direction = read.get_by_name("alignment_direction");
    for (auto& line : read.extract_alignment_sam_and_bed_lines()) {
        if (!line.sam_record.empty()) {
            called.sam_records.push_back(std::move(line.sam_record));
        }
    }
}

}  // namespace

CalledRead CalledRead::from_read(const tamsu::Read& read)
{
    CalledRead called;
    called.read_id = read.get_by_name("read_id");
    called.run_id = read.get_by_name("run_id");
    called.samples = metadata_value<unsigned long>(read, "duration", 0);
    called.called = read.get_datasets().count(interfaces::dataset::sequence) != 0;
    if (!called.called) {
        return called;
    }
    called.sequence = dataset_text(read, interfaces::dataset::sequence);
    called.qstring = dataset_text(read, interfaces::dataset::qstring);
    called.mean_qscore = metadata_value<float>(read, "mean_qscore", 0.0f);
    called.barcode_kit = read.get_by_name("barcode_kit");
    called.barcode_arrangement = read.get_by_name("barcode_arrangement");
    called.lamp_barcode = read.get_by_name("lamp_barcode_id");
    called.lamp_target = read.get_by_name("lamp_target_id");
    called.mod_alphabet = read.get_by_name("base_mod_alphabet");
    called.mod_long_names = read.get_by_name("base_mod_long_names");
    called.mod_probabilities = dataset_bytes(read, interfaces::dataset::base_mod_probs);
    called.model_stride = metadata_value<unsigned long>(read, "model_stride", 0);
    called.moves = dataset_bytes(read, interfaces::dataset::moves);
    called.trace = dataset_bytes(read, interfaces::dataset::trace);
    if (read.has_alignment_data()) {
        take_alignment(read, called);
    }
    return called;
}

}  // namespace tamsu_cli
