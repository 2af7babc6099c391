#include "server/reference_data.h"
#include "support/temp_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

namespace {

using namespace reference_server;
using testing::HasSubstr;

// FASTA records are joined and upper-cased, BED comment and track lines skipped; a malformed
// file is refused, naming the line where it can.
TEST(ReferenceFilesTest, FastaAndBedAreReadAndMalformedFilesRefused)
{
    tamsu_test::TempDirectory directory;
    const auto write = [&](const std::string& content) {
        std::ofstream(directory.file("file")) << content;
        return directory.file("file");
    };
    AlignmentIndex index;
    BedFile bed;
    std::string error;
    ASSERT_TRUE(load_fasta(write("\n>one desc\nacgt\r\nNN\n>empty\n>two\nGG\n"), index, error));
    EXPECT_EQ(index.sequences.at(0).bases + " " + index.sequences.at(1).bases, "ACGTNN GG");
    ASSERT_TRUE(load_bed(write("browser x\ntrack y\n# c\nchr1 5 9 name 0 +\n\nchr2\t0\t1\n"), bed,
                         error));
    ASSERT_EQ(bed.intervals.size(), 2u);
    const auto& first = bed.intervals[0];
    EXPECT_EQ(std::tie(first.chrom, first.start, first.end, first.line),
              std::make_tuple("chr1", 5, 9, "chr1 5 9 name 0 +"));
    for (const auto& [fasta, content, line] :
         std::vector<std::tuple<bool, const char*, const char*>>{
                 {true, "ACGT\n>late\nAC\n", "line 1"},
                 {true, ">x\nAC GT\n", "line 2"},
                 {true, ">\nAC\n", ""},
                 {false, "chr1\t-1\t4\n", ""},
                 {false, "chr1\t1\n", ""},
                 {false, "chr1\t9\t4\n", ""},
                 {false, "x\t1\t2\nchr\ta\tb\n", "line 2"}}) {
        SCOPED_TRACE(content);
        EXPECT_FALSE(fasta ? load_fasta(write(content), index, error)
                           : load_bed(write(content), bed, error));
        EXPECT_THAT(error, HasSubstr(line));
    }
}

// The hit extends past the 32-base seed until the first mismatch, and takes the BED lines it
// overlaps; a read of the reverse strand is reported reverse-complemented.
TEST(AlignExactTest, FindsForwardAndReverseHitsWithOverlappingBedLines)
{
    const std::string core = "ACGTTAGCCAGGTACCATGGATCCTTGACAGTCAGTCA";  // 38 bases
    AlignmentIndex index;
    index.sequences = {{"decoy", "TTTTTTTT"}, {"chr1", "GGG" + core + "A"}};
    BedFile bed;
    bed.intervals = {{"chr1", 0, 4, "a"},
                     {"chr1", 40, 50, "b"},
                     {"chr1", 41, 50, "after"},
                     {"chr2", 0, 20, "other chromosome"}};
    auto hits = align_exact(index, &bed, "r1", core + "CTT", std::string(41, 'I'), 30);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(std::tie(hits[0].bed_hits, hits[0].bed_lines), std::make_tuple(2, "a\nb"));
    EXPECT_THAT(hits[0].sam_record, HasSubstr("r1\t0\tchr1\t4\t60\t38M3S\t"));
    hits = align_exact(index, nullptr, "r2", "TGGCTAA", "ABCDEFG", 10);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_THAT(hits[0].sam_record, HasSubstr("\t16\tchr1\t7\t60\t7M\t*\t0\t0\tTTAGCCA\tGFEDCBA"));
    EXPECT_TRUE(align_exact(index, &bed, "r3", "CCCCCCCC", "IIIIIIII", 4).empty());
}

}  // namespace
