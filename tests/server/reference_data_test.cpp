#include "server/barcoder.h"
#include "server/catalogue.h"
#include "server/reference_data.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

using namespace reference_server;
using testing::HasSubstr;

// Each call writes a fresh file in the test's own directory.
class FileTest : public testing::Test {
protected:
    std::string write(const std::string& content)
    {
        const auto path = m_dir.file(std::to_string(++m_files));
        std::ofstream(path) << content;
        return path;
    }

    tamsu_test::TempDirectory m_dir;
    int m_files = 0;
};

TEST_F(FileTest, FastaRecordsAreJoinedUpperCasedAndMalformedFilesRefused)
{
    AlignmentIndex index;
    std::string error;
    ASSERT_TRUE(load_fasta(write("\n>one desc\nacgt\r\nNN\n>empty\n>two\nGG\n"), index, error))
            << error;
    ASSERT_EQ(index.sequences.size(), 2u);
    EXPECT_EQ(index.sequences[0].name, "one");
    EXPECT_EQ(index.sequences[0].bases, "ACGTNN");
    EXPECT_EQ(index.sequences[1].name, "two");
    EXPECT_EQ(index.sam_header(), "@HD\tVN:1.6\tSO:unsorted\n@SQ\tSN:one\tLN:6\n"
                                  "@SQ\tSN:two\tLN:2\n");

    for (const auto& bad :
         {std::make_pair("ACGT\n>late\nAC\n", "line 1"), std::make_pair(">x\nAC GT\n", "line 2"),
          std::make_pair(">\nAC\n", "")}) {
        EXPECT_FALSE(load_fasta(write(bad.first), index, error)) << bad.first;
        EXPECT_THAT(error, HasSubstr(bad.second));
    }
}

TEST_F(FileTest, BedLinesAreParsedAndMalformedOnesRefused)
{
    BedFile bed;
    std::string error;
    ASSERT_TRUE(load_bed(write("browser x\ntrack y\n# c\nchr1 5 9 name 0 +\n\nchr2\t0\t1\n"), bed,
                         error))
            << error;
    ASSERT_EQ(bed.intervals.size(), 2u);
    const auto& first = bed.intervals[0];
    EXPECT_EQ(first.chrom + first.line, "chr1chr1 5 9 name 0 +");
    EXPECT_EQ(first.start, 5);
    EXPECT_EQ(first.end, 9);
    for (const auto* bad : {"chr1\t-1\t4\n", "chr1\t1\n", "chr1\t9\t4\n", "x\t1\t2\nchr\ta\tb\n"}) {
        EXPECT_FALSE(load_bed(write(bad), bed, error)) << bad;
    }
    EXPECT_THAT(error, HasSubstr("line 2"));
}

TEST(AlignExactTest, FindsForwardAndReverseHitsWithOverlappingBedLines)
{
    // Seeds are the first 32 bases; the hit extends past them until the first mismatch.
    const std::string core = "ACGTTAGCCAGGTACCATGGATCCTTGACAGTCAGTCA";  // 38 bases
    AlignmentIndex index;
    index.sequences.push_back({"decoy", "TTTTTTTT"});
    index.sequences.push_back({"chr1", "GGG" + core + "A"});
    BedFile bed;
    bed.intervals.push_back({"chr1", 0, 4, "chr1\t0\t4\ta"});
    bed.intervals.push_back({"chr1", 40, 50, "chr1\t40\t50\tb"});
    bed.intervals.push_back({"chr1", 41, 50, "chr1\t41\t50\tafter"});
    bed.intervals.push_back({"chr2", 0, 20, "chr2\t0\t20\tc"});

    const auto read = core + "CTT";
    auto hits = align_exact(index, &bed, "r1", read, std::string(read.size(), 'I'), 30);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].genome_end, 41);
    EXPECT_EQ(hits[0].num_aligned, 38);
    EXPECT_FLOAT_EQ(hits[0].coverage, 38.0f / 41.0f);
    EXPECT_EQ(hits[0].bed_hits, 2);
    EXPECT_EQ(hits[0].bed_lines, "chr1\t0\t4\ta\nchr1\t40\t50\tb");
    EXPECT_EQ(hits[0].sam_record, "r1\t0\tchr1\t4\t60\t38M3S\t*\t0\t0\t" + read + "\t" +
                                          std::string(read.size(), 'I') + "\tNM:i:0");

    EXPECT_EQ(reverse_complement("TTAGCCA"), "TGGCTAA");
    hits = align_exact(index, nullptr, "r2", "TGGCTAA", "ABCDEFG", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(hits[0].bed_hits, 0);
    EXPECT_THAT(hits[0].sam_record, HasSubstr("\t16\tchr1\t7\t60\t7M\t*\t0\t0\tTTAGCCA\tGFEDCBA"));

    EXPECT_TRUE(align_exact(index, &bed, "r3", "CCCCCCCC", "IIIIIIII", 4).empty());
    EXPECT_TRUE(align_exact(index, &bed, "r4", "", "", 0).empty());
}

TEST(BarcoderTest, AssignmentIsDeterministicPerReadIdAndWithinTheKit)
{
    const auto* kit = find_barcode_kit("TOY-BC12");
    const auto* lamp = find_lamp_kit("TOY-LAMP-MINI");
    ASSERT_TRUE(kit && lamp);
    const std::string sequence(100, 'A');
    std::set<std::string> arrangements;
    for (int i = 0; i < 50; ++i) {
        const auto id = "read-" + std::to_string(i);
        const auto result = assign_barcode({kit}, lamp, true, id, sequence);
        EXPECT_EQ(result.arrangement, assign_barcode({kit}, lamp, true, id, sequence).arrangement);
        EXPECT_THAT(result.arrangement, testing::MatchesRegex("barcode(0[1-9]|1[01]|12a)"));
        EXPECT_EQ(result.trim_front, 24);
        EXPECT_THAT(result.lamp_barcode_id, testing::MatchesRegex("lamp0[1-8]"));
        arrangements.insert(result.arrangement);
    }
    EXPECT_GT(arrangements.size(), 5u);
    const auto untrimmed = assign_barcode({kit}, nullptr, false, "x", "ACG");
    EXPECT_EQ(untrimmed.trim_front, 0);
    EXPECT_EQ(untrimmed.front.foundseq, "ACG");
    EXPECT_TRUE(untrimmed.lamp_barcode_id.empty());
}

}  // namespace
