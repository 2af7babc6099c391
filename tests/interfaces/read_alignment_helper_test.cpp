#include "interfaces/read_alignment_helper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace interfaces {
namespace {

using vask::data_wrappers::DataSetType;
using vask::data_wrappers::DataTable;
using vask::data_wrappers::DataView;

ReadHolder read_with_table(DataTable table)
{
    ReadHolder read;
    read.get_datasets().emplace(dataset::align_results, DataView(std::move(table)));
    return read;
}

// One "sam[bed,bed,]" group per alignment, so a whole result compares as one text.
std::string rendered(const std::vector<ReadAlignmentHelper::AlignmentSamLine>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        text += line.sam_record + "[";
        for (const auto& bed : line.bed_lines) {
            text += bed + ",";
        }
        text += "]";
    }
    return text;
}

TEST(ReadAlignmentHelperTest, TableLayoutAndFirstRecordMetadataKeys)
{
    DataTable table = ReadAlignmentHelper::create_alignment_table(2);
    EXPECT_EQ(table.record_size, 312u);
    const std::string genome(253, 'g');  // the longest name the field holds
    std::strcpy(&table.view_field<char>("Genome")[0], genome.c_str());
    table.view_field<char>("Direction")[0] = '+';
    for (std::size_t i = 2; i < table.fields.size(); ++i) {
        const std::string& name = table.fields[i].name;
        table.view_field<int>(name)[1] = -1;  // only the first record is copied
        if (table.fields[i].type == DataSetType::float32) {
            table.view_field<float>(name)[0] = static_cast<float>(i);
        } else {
            table.view_field<int>(name)[0] = static_cast<int>(i);
        }
    }
    ReadHolder read = read_with_table(std::move(table));
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);

    std::string copied;
    for (const char* key :
         {"genome", "direction", "genome_start", "genome_end", "strand_start", "strand_end",
          "num_events", "num_insertions", "num_deletions", "num_aligned", "num_correct", "coverage",
          "identity", "accuracy", "score", "bed_hits"}) {
        copied += read.get_by_name(std::string("alignment_") + key) + " ";
    }
    EXPECT_EQ(copied, genome + " + 2 3 4 5 6 7 8 9 10 11.000000 12.000000 13.000000 14 15 ");
    EXPECT_EQ(read.get_metadata().size(), 16u);
}

TEST(ReadAlignmentHelperTest, SamAndBedLinesArePairedByBedHitsAndNeedResults)
{
    struct Case {
        std::vector<int> bed_hits;
        const char* sam;  // null: stored with the wrong type, which reads as missing
        const char* bed;
        std::string expected;
    };
    const Case cases[] = {{{2, 0}, "sam1\nsam2", "bed1\r\nbed2\n", "sam1[bed1\r,bed2,]sam2[]"},
                          {{3, -1, 1}, nullptr, "only\nsurplus", "[only,surplus,,][][,]"},
                          {{1}, "a\nb\nc", "x\ny", "a[x,]"},
                          {{}, "a", "x", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        DataTable table = ReadAlignmentHelper::create_alignment_table(c.bed_hits.size());
        for (std::size_t i = 0; i < c.bed_hits.size(); ++i) {
            table.view_field<int>("BedHits")[i] = c.bed_hits[i];
        }
        ReadHolder read = read_with_table(std::move(table));
        c.sam ? read.get_metadata().insert("alignment_sam_record", c.sam)
              : read.get_metadata().insert<int>("alignment_sam_record", 5);
        read.get_metadata().insert("alignment_bed_lines", c.bed);
        EXPECT_EQ(
                rendered(ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(
                        read)),
                c.expected);
    }
}

}  // namespace
}  // namespace interfaces
