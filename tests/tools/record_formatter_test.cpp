#include "tools/record_formatter.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tamsu_cli {
namespace {

TEST(RecordFormatterTest, EachFileGetsItsLinesForCalledAlignedAndUncalledReads)
{
    CalledRead read;
    read.read_id = "r1";
    read.called = true;
    read.samples = 500;
    read.sequence = "ACGTA";
    read.qstring = "#$%&'";
    read.mean_qscore = 12.345f;
    auto aligned = read;
    aligned.barcode_kit = "TOY-BC12";
    aligned.barcode_arrangement = "barcode07";
    aligned.lamp_barcode = "FIP03";
    aligned.aligned = true;
    aligned.alignment_genome = "chr2";
    aligned.alignment_start = 99;
    aligned.alignment_end = 104;
    aligned.alignment_direction = "-";
    aligned.sam_records = {"r1\t16\tchr2\t100", "r1\t256\tchr1"};
    CalledRead uncalled;
    uncalled.read_id = "short";
    uncalled.samples = 40;
    struct Case {
        CalledRead read;
        std::string fastq, summary, sam;
    };
    const std::vector<Case> cases = {
            {read, "@r1 length=5 mean_qscore=12.35\nACGTA\n+\n#$%&'\n",
             "r1\tcalled\t500\t5\t12.35\t\t\t\t\t\t\t\t\n",
             "r1\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\t#$%&'\n"},
            {aligned,
             "@r1 length=5 mean_qscore=12.35 barcode=barcode07 lamp_barcode=FIP03 "
             "alignment=chr2:99 direction=-\nACGTA\n+\n#$%&'\n",
             "r1\tcalled\t500\t5\t12.35\tTOY-BC12\tbarcode07\tFIP03\t\tchr2\t99\t104\t-\n",
             "r1\t16\tchr2\t100\nr1\t256\tchr1\n"},
            {uncalled, "", "short\tnot_called\t40\t0\t\t\t\t\t\t\t\t\t\n", ""},
    };
    const auto header = RecordFormatter::summary_header();
    EXPECT_EQ(std::count(header.begin(), header.end(), '\t'), 12);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.read.read_id + (c.read.aligned ? " aligned" : ""));
        EXPECT_EQ(RecordFormatter::fastq(c.read), c.fastq);
        EXPECT_EQ(RecordFormatter::summary_row(c.read), c.summary);
        EXPECT_EQ(RecordFormatter::sam_records(c.read), c.sam);
    }
}

}  // namespace
}  // namespace tamsu_cli
