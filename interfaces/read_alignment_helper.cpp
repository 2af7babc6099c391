#include "interfaces/read_alignment_helper.h"

#include <cstring>
#include <sstream>
#include <stdexcept>

namespace interfaces {

using vask::data_wrappers::DataSetType;
using vask::data_wrappers::DataTable;
using vask::data_wrappers::Field;

namespace {

struct NumericField {
    const char* field;
    const char* key;
    bool is_float;
};

// Every field after "Genome" and "Direction", in table order, with its metadata key.
constexpr NumericField NUMERIC_FIELDS[] = {
        {"GenomeStart", "alignment_genome_start", false},
        {"GenomeEnd", "alignment_genome_end", false},
        {"StrandStart", "alignment_strand_start", false},
        {"StrandEnd", "alignment_strand_end", false},
        {"NumEvents", "alignment_num_events", false},
        {"NumInsertions", "alignment_num_insertions", false},
        {"NumDeletions", "alignment_num_deletions", false},
        {"NumAligned", "alignment_num_aligned", false},
        {"NumCorrect", "alignment_num_correct", false},
        {"Coverage", "alignment_coverage", true},
        {"Identity", "alignment_identity", true},
        {"Accuracy", "alignment_accuracy", true},
        {"StrandScore", "alignment_score", false},
        {"BedHits", "alignment_bed_hits", false},
};

std::string text_or_empty(const vask::data_wrappers::Metadata& metadata, const std::string& key)
{
    std::string* text = nullptr;
    return metadata.extract(key, text) ? *text : std::string();
}

// An exhausted stream yields empty lines.
std::string next_line(std::istream& stream)
{
    std::string line;
    std::getline(stream, line);
    return line;
}

}  // namespace

DataTable ReadAlignmentHelper::create_alignment_table(std::size_t num_alignments)
{
    DataTable table;
    table.add_field("Genome", DataSetType::fixed_string, GENOME_FIELD_SIZE);
    table.add_field("Direction", DataSetType::int8, 1);
    for (const NumericField& field : NUMERIC_FIELDS) {
        table.add_field(field.field, field.is_float ? DataSetType::float32 : DataSetType::int32, 4);
    }
    table.resize(num_alignments);
    return table;
}

bool ReadAlignmentHelper::read_holder_contains_alignment_data(const ReadHolder& read)
{
    return read.get_datasets().count(dataset::align_results) != 0;
}

DataTable ReadAlignmentHelper::create_alignment_table_from_read_holder(const ReadHolder& read)
{
    const auto entry = read.get_datasets().find(dataset::align_results);
    if (entry == read.get_datasets().end()) {
        throw std::runtime_error("Could not find align results in read holder");
    }
    return entry->second.to_table();
}

void ReadAlignmentHelper::copy_alignment_results_to_metadata(ReadHolder& read)
{
    const DataTable table = create_alignment_table_from_read_holder(read);
    const auto genomes = table.view_field<char>("Genome");
    const auto directions = table.view_field<char>("Direction");
    // The engine never stores an empty table; nothing to copy if a host does.
    if (table.num_records == 0) {
        return;
    }

    const Field& genome_field = table.fields.at(table.field_index.at("Genome"));
    auto& metadata = read.get_metadata();
    metadata.insert("alignment_genome",
                    std::string(genomes.data, ::strnlen(genomes.data, genome_field.size + 1)));
    metadata.insert("alignment_direction", std::string(1, directions[0]));
    for (const NumericField& field : NUMERIC_FIELDS) {
        if (field.is_float) {
            metadata.insert(field.key, table.view_field<float>(field.field)[0]);
        } else {
            metadata.insert(field.key, table.view_field<int>(field.field)[0]);
        }
    }
}

std::vector<ReadAlignmentHelper::AlignmentSamLine>
ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(const ReadHolder& read)
{
    const DataTable table = create_alignment_table_from_read_holder(read);
    const auto bed_hits = table.view_field<int>("BedHits");
    std::istringstream sam_lines(text_or_empty(read.get_metadata(), "alignment_sam_record"));
    std::istringstream bed_lines(text_or_empty(read.get_metadata(), "alignment_bed_lines"));

    std::vector<AlignmentSamLine> result;
    result.reserve(table.num_records);
    for (std::size_t record = 0; record < table.num_records; ++record) {
        AlignmentSamLine line;
        line.sam_record = next_line(sam_lines);
        for (int hit = 0; hit < bed_hits[record]; ++hit) {
            line.bed_lines.push_back(next_line(bed_lines));
        }
        result.push_back(std::move(line));
    }
    return result;
}

}  // namespace interfaces
