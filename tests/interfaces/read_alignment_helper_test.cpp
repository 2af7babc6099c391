#include "interfaces/read_alignment_helper.h"

#include "support/exception_text.h"
#include <gmock/gmock.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace interfaces {
namespace {

using ::testing::ElementsAre;
using vask::data_wrappers::DataSetType;
using vask::data_wrappers::DataTable;
using vask::data_wrappers::DataView;
using vask::data_wrappers::Field;

using Line = ReadAlignmentHelper::AlignmentSamLine;

// Records, in order, with their genome and BED hit count.
ReadHolder read_with_alignments(const std::vector<std::pair<std::string, int>>& records)
{
    DataTable table = ReadAlignmentHelper::create_alignment_table(records.size());
    auto genomes = table.view_field<char>("Genome");
    auto bed_hits = table.view_field<int>("BedHits");
    for (std::size_t i = 0; i < records.size(); ++i) {
        std::strcpy(&genomes[i], records[i].first.c_str());
        bed_hits[i] = records[i].second;
    }
    ReadHolder read;
    read.get_datasets().emplace(dataset::align_results, DataView(std::move(table)));
    return read;
}

std::string runtime_error_text(const std::function<void()>& operation)
{
    return tamsu_test::exception_text<std::runtime_error>(operation);
}

TEST(ReadAlignmentHelperTest, AlignmentTableLayout)
{
    const DataTable table = ReadAlignmentHelper::create_alignment_table(2);
    EXPECT_EQ(table.record_size, 312u);
    EXPECT_EQ(table.num_records, 2u);
    EXPECT_EQ(table.data, std::vector<char>(624, 0));

    std::vector<std::string> names;
    std::vector<std::size_t> offsets;
    for (const Field& field : table.fields) {
        names.push_back(field.name);
        offsets.push_back(field.offset);
    }
    EXPECT_THAT(names, ElementsAre("Genome", "Direction", "GenomeStart", "GenomeEnd", "StrandStart",
                                   "StrandEnd", "NumEvents", "NumInsertions", "NumDeletions",
                                   "NumAligned", "NumCorrect", "Coverage", "Identity", "Accuracy",
                                   "StrandScore", "BedHits"));
    EXPECT_THAT(offsets, ElementsAre(0u, 254u, 256u, 260u, 264u, 268u, 272u, 276u, 280u, 284u, 288u,
                                     292u, 296u, 300u, 304u, 308u));
    EXPECT_EQ(table.fields[0].type, DataSetType::fixed_string);
    EXPECT_EQ(table.fields[0].size, 253u);
    EXPECT_EQ(table.fields[1].type, DataSetType::int8);
    EXPECT_EQ(table.fields[11].type, DataSetType::float32);
    EXPECT_EQ(table.fields[14].type, DataSetType::int32);
}

TEST(ReadAlignmentHelperTest, ReadWithoutAlignmentResults)
{
    ReadHolder read;
    EXPECT_FALSE(ReadAlignmentHelper::read_holder_contains_alignment_data(read));
    const std::string expected = "Could not find align results in read holder";
    EXPECT_EQ(runtime_error_text(
                      [&] { ReadAlignmentHelper::create_alignment_table_from_read_holder(read); }),
              expected);
    EXPECT_EQ(runtime_error_text(
                      [&] { ReadAlignmentHelper::copy_alignment_results_to_metadata(read); }),
              expected);
    EXPECT_EQ(runtime_error_text([&] {
                  ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
              }),
              expected);
    EXPECT_TRUE(read.get_metadata().empty());
}

TEST(ReadAlignmentHelperTest, TableRoundTripsThroughTheRead)
{
    ReadHolder read = read_with_alignments({{"chr1", 1}, {"chrM", 3}});
    ASSERT_TRUE(ReadAlignmentHelper::read_holder_contains_alignment_data(read));

    const DataTable table = ReadAlignmentHelper::create_alignment_table_from_read_holder(read);
    EXPECT_EQ(table.record_size, 312u);
    EXPECT_EQ(table.num_records, 2u);
    EXPECT_STREQ(&table.view_field<char>("Genome")[1], "chrM");
    EXPECT_EQ(table.view_field<int>("BedHits")[1], 3);
    EXPECT_EQ(table.field_index.at("BedHits"), 15u);
}

TEST(ReadAlignmentHelperTest, FirstRecordIsCopiedToMetadataReplacingEntries)
{
    DataTable table = ReadAlignmentHelper::create_alignment_table(2);
    std::strcpy(&table.view_field<char>("Genome")[0], "chr1");
    std::strcpy(&table.view_field<char>("Genome")[1], "chr2");
    table.view_field<char>("Direction")[0] = '+';
    const char* int_fields[] = {"GenomeStart", "GenomeEnd",     "StrandStart",  "StrandEnd",
                                "NumEvents",   "NumInsertions", "NumDeletions", "NumAligned",
                                "NumCorrect",  "StrandScore",   "BedHits"};
    int value = 10;
    for (const char* field : int_fields) {
        table.view_field<int>(field)[0] = value++;
        table.view_field<int>(field)[1] = -1;
    }
    table.view_field<float>("Coverage")[0] = 0.5f;
    table.view_field<float>("Identity")[0] = 0.75f;
    table.view_field<float>("Accuracy")[0] = 0.875f;

    ReadHolder read;
    read.get_datasets().emplace(dataset::align_results, DataView(std::move(table)));
    read.get_metadata().insert<double>("alignment_genome_start", 99.0);
    read.get_metadata().insert("alignment_genome", "stale");
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);

    const auto& metadata = read.get_metadata();
    EXPECT_EQ(metadata.size(), 16u);
    EXPECT_EQ(metadata.get_value<std::string>("alignment_genome"), "chr1");
    EXPECT_EQ(metadata.get_value<std::string>("alignment_direction"), "+");
    EXPECT_EQ(metadata.get_value<int>("alignment_genome_start"), 10);
    EXPECT_EQ(metadata.get_value<int>("alignment_genome_end"), 11);
    EXPECT_EQ(metadata.get_value<int>("alignment_strand_start"), 12);
    EXPECT_EQ(metadata.get_value<int>("alignment_strand_end"), 13);
    EXPECT_EQ(metadata.get_value<int>("alignment_num_events"), 14);
    EXPECT_EQ(metadata.get_value<int>("alignment_num_insertions"), 15);
    EXPECT_EQ(metadata.get_value<int>("alignment_num_deletions"), 16);
    EXPECT_EQ(metadata.get_value<int>("alignment_num_aligned"), 17);
    EXPECT_EQ(metadata.get_value<int>("alignment_num_correct"), 18);
    EXPECT_EQ(metadata.get_value<int>("alignment_score"), 19);
    EXPECT_EQ(metadata.get_value<int>("alignment_bed_hits"), 20);
    EXPECT_EQ(metadata.get_value<float>("alignment_coverage"), 0.5f);
    EXPECT_EQ(metadata.get_value<float>("alignment_identity"), 0.75f);
    EXPECT_EQ(metadata.get_value<float>("alignment_accuracy"), 0.875f);
}

TEST(ReadAlignmentHelperTest, GenomeNameOfFullLengthIsCopiedWhole)
{
    ReadHolder read = read_with_alignments({{std::string(252, 'g'), 0}});
    ReadAlignmentHelper::copy_alignment_results_to_metadata(read);
    EXPECT_EQ(read.get_metadata().get_value<std::string>("alignment_genome"),
              std::string(252, 'g'));
    EXPECT_EQ(read.get_metadata().get_value<std::string>("alignment_direction"),
              std::string(1, '\0'));
}

TEST(ReadAlignmentHelperTest, SamLinesArePairedWithTheirBedHits)
{
    ReadHolder read = read_with_alignments({{"chr1", 2}, {"chr2", 0}});
    read.get_metadata().insert("alignment_sam_record", "sam1\nsam2");
    read.get_metadata().insert("alignment_bed_lines", "bed1\r\nbed2\n");

    const auto lines =
            ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].sam_record, "sam1");
    EXPECT_THAT(lines[0].bed_lines, ElementsAre("bed1\r", "bed2"));
    EXPECT_EQ(lines[1].sam_record, "sam2");
    EXPECT_TRUE(lines[1].bed_lines.empty());
}

TEST(ReadAlignmentHelperTest, ShortOrMissingTextsGiveEmptyLines)
{
    ReadHolder read = read_with_alignments({{"chr1", 3}, {"chr2", -1}, {"chr3", 1}});
    read.get_metadata().insert("alignment_bed_lines", "only\nsurplus is never read");
    read.get_metadata().insert<int>("alignment_sam_record", 5);  // wrong type reads as missing

    const auto lines =
            ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].sam_record, "");
    EXPECT_THAT(lines[0].bed_lines, ElementsAre("only", "surplus is never read", ""));
    EXPECT_TRUE(lines[1].bed_lines.empty());
    EXPECT_THAT(lines[2].bed_lines, ElementsAre(""));
}

TEST(ReadAlignmentHelperTest, SurplusLinesAreIgnoredAndEmptyTablesGiveNothing)
{
    ReadHolder one = read_with_alignments({{"chr1", 1}});
    one.get_metadata().insert("alignment_sam_record", "a\nb\nc");
    one.get_metadata().insert("alignment_bed_lines", "x\ny");
    const auto lines =
            ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(one);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].sam_record, "a");
    EXPECT_THAT(lines[0].bed_lines, ElementsAre("x"));

    ReadHolder none = read_with_alignments({});
    none.get_metadata().insert("alignment_sam_record", "a");
    EXPECT_TRUE(ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(none)
                        .empty());
    ReadAlignmentHelper::copy_alignment_results_to_metadata(none);
    EXPECT_FALSE(none.get_metadata().exists("alignment_genome"));
}

TEST(ReadAlignmentHelperTest, MalformedFieldListFailsLikeAddField)
{
    ReadHolder read = read_with_alignments({{"chr1", 0}});
    read.get_datasets().at(dataset::align_results).fields[0].size = 0;
    EXPECT_EQ(runtime_error_text(
                      [&] { ReadAlignmentHelper::copy_alignment_results_to_metadata(read); }),
              "Must specify a size for string fields.");
}

}  // namespace
}  // namespace interfaces
