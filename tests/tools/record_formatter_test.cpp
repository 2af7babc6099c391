#include "support/temp_directory.h"
#include "tools/output_file.h"
#include "tools/query_formatter.h"
#include "tools/record_formatter.h"
#include "tools/result_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tamsu_cli {
namespace {

using tamsu_test::TempDirectory;
using testing::HasSubstr;

CalledRead called_read()
{
    CalledRead read;
    read.read_id = "r1";
    read.called = true;
    read.samples = 500;
    read.sequence = "ACGTA";
    read.qstring = "#$%&'";
    read.mean_qscore = 12.345f;
    return read;
}

CalledRead uncalled_read()
{
    CalledRead read;
    read.read_id = "short";
    read.samples = 40;
    return read;
}

std::size_t count_tabs(const std::string& line)
{
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t'));
}

std::string slurp(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(RecordFormatterTest, FastqHasFourLinesAndTheMainResultsInTheHeader)
{
    EXPECT_EQ(RecordFormatter::fastq(called_read()),
              "@r1 length=5 mean_qscore=12.35\nACGTA\n+\n#$%&'\n");
    auto read = called_read();
    read.barcode_arrangement = "barcode07";
    read.lamp_barcode = "FIP03";
    read.aligned = true;
    read.alignment_genome = "chr2";
    read.alignment_start = 99;
    read.alignment_direction = "-";
    EXPECT_EQ(RecordFormatter::fastq(read),
              "@r1 length=5 mean_qscore=12.35 barcode=barcode07 lamp_barcode=FIP03 "
              "alignment=chr2:99 direction=-\nACGTA\n+\n#$%&'\n");
}

TEST(RecordFormatterTest, UncalledReadsAreNotInFastqOrSam)
{
    EXPECT_EQ(RecordFormatter::fastq(uncalled_read()), "");
    EXPECT_EQ(RecordFormatter::sam_records(uncalled_read()), "");
}

TEST(RecordFormatterTest, EverySummaryRowHasTheHeaderColumns)
{
    auto aligned = called_read();
    aligned.aligned = true;
    aligned.alignment_genome = "chr1";
    aligned.alignment_start = 3;
    aligned.alignment_end = 8;
    aligned.alignment_direction = "+";
    aligned.barcode_kit = "TOY-BC12";
    aligned.barcode_arrangement = "barcode01";
    const auto columns = count_tabs(RecordFormatter::summary_header());
    for (const auto& read : {called_read(), uncalled_read(), aligned}) {
        const auto row = RecordFormatter::summary_row(read);
        EXPECT_EQ(count_tabs(row), columns) << row;
        EXPECT_EQ(row.back(), '\n');
    }
    EXPECT_EQ(RecordFormatter::summary_row(aligned),
              "r1\tcalled\t500\t5\t12.35\tTOY-BC12\tbarcode01\t\t\tchr1\t3\t8\t+\n");
    EXPECT_EQ(RecordFormatter::summary_row(uncalled_read()).substr(0, 22),
              "short\tnot_called\t40\t0\t");
}

TEST(RecordFormatterTest, SamHasTheServerRecordsOrAnUnmappedOne)
{
    EXPECT_EQ(RecordFormatter::sam_records(called_read()),
              "r1\t4\t*\t0\t0\t*\t*\t0\t0\tACGTA\t#$%&'\n");
    auto empty = called_read();
    empty.sequence.clear();
    empty.qstring.clear();
    EXPECT_THAT(RecordFormatter::sam_records(empty), HasSubstr("\t0\t0\t*\t*\n"));
    auto read = called_read();
    read.aligned = true;
    read.sam_records = {"r1\t0\tchr1\t4\t60\t5M\t*\t0\t0\tACGTA\t#$%&'", "r1\t256\tchr2"};
    EXPECT_EQ(RecordFormatter::sam_records(read),
              read.sam_records[0] + "\n" + read.sam_records[1] + "\n");
}

TEST(OutputFileTest, ContentGetsTheRealNameOnlyOnCommit)
{
    TempDirectory directory;
    const auto path = directory.file("out.txt");
    {
        OutputFile file(path);
        file.write("hello\n");
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_TRUE(std::filesystem::exists(path + ".partial"));
        file.commit();
    }
    EXPECT_EQ(slurp(path), "hello\n");
    EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

TEST(OutputFileTest, AnUncommittedFileStaysPartialAndAnOldCompleteFileGoes)
{
    TempDirectory directory;
    const auto path = directory.file("out.txt");
    std::ofstream(path) << "an older complete run\n";
    {
        OutputFile file(path);
        file.write("half");
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(slurp(path + ".partial"), "half");
}

TEST(OutputFileTest, AnUncreatableFileThrows)
{
    EXPECT_THROW(OutputFile("/nonexistent-directory/out.txt"), std::runtime_error);
}

TEST(ResultWriterTest, WritesEveryFileCountsAndCommitsThemTogether)
{
    TempDirectory directory;
    const auto out = directory.file("nested/out");
    ResultWriter writer(out, true, "@HD\tVN:1.6\n");
    writer.write(called_read());
    writer.write(uncalled_read());
    const auto& totals = writer.totals();
    EXPECT_EQ(totals.reads, 2u);
    EXPECT_EQ(totals.called, 1u);
    EXPECT_EQ(totals.not_called, 1u);
    EXPECT_EQ(totals.bases, 5u);
    EXPECT_NEAR(totals.mean_qscore(), 12.345, 1e-4);
    EXPECT_EQ(writer.paths(false),
              (std::vector<std::string>{out + "/reads.fastq.partial", out + "/summary.tsv.partial",
                                        out + "/reads.sam.partial"}));
    writer.commit();
    EXPECT_EQ(slurp(out + "/reads.fastq"), RecordFormatter::fastq(called_read()));
    EXPECT_EQ(slurp(out + "/summary.tsv"), RecordFormatter::summary_header() +
                                                   RecordFormatter::summary_row(called_read()) +
                                                   RecordFormatter::summary_row(uncalled_read()));
    EXPECT_EQ(slurp(out + "/reads.sam"),
              "@HD\tVN:1.6\n" + RecordFormatter::sam_records(called_read()));
}

TEST(ResultWriterTest, WithoutAnIndexThereIsNoSam)
{
    TempDirectory directory;
    ResultWriter writer(directory.path(), false, "");
    EXPECT_EQ(writer.paths(true).size(), 2u);
    writer.commit();
    EXPECT_FALSE(std::filesystem::exists(directory.file("reads.sam")));
    EXPECT_FALSE(std::filesystem::exists(directory.file("reads.sam.partial")));
}

TEST(QueryFormatterTest, StatisticsListCountersAndClients)
{
    tamsu::server_query::ServerStatistics stats;
    stats.stat_0 = 5;
    stats.stat_3 = 12345678901ULL;
    stats.clients.push_back({3, 4});
    const auto text = QueryFormatter::statistics(stats);
    EXPECT_THAT(text, HasSubstr("stat_0  5\n"));
    EXPECT_THAT(text, HasSubstr("stat_3  12345678901\n"));
    EXPECT_THAT(text, HasSubstr("Clients: 1\n  client 1  value_0=3  value_1=4\n"));
}

TEST(QueryFormatterTest, KitsShowTheirRangesAndFirstNames)
{
    using tamsu::server_query::BarcodeKitDefinition;
    using tamsu::server_query::LampKitDefinition;
    const auto barcodes = QueryFormatter::barcode_kits(
            {BarcodeKitDefinition("KIT-A", 1, 12, 0, 0, false, true, false, "bc%02i")});
    EXPECT_EQ(barcodes, "Barcode kits: 1\n  KIT-A  barcodes 1-12, both ends, first name bc01\n");
    const auto lamp =
            QueryFormatter::lamp_kits({LampKitDefinition("LAMP-A", 2, 8, "L%02i", {"t1", "t2"}),
                                       LampKitDefinition("LAMP-B", 1, 1, "M%02i", {})});
    EXPECT_EQ(lamp, "LAMP kits: 2\n  LAMP-A  barcodes 2-8, first name L02, targets t1 t2\n"
                    "  LAMP-B  barcodes 1-1, first name M01, targets none\n");
}

TEST(QueryFormatterTest, JsonIsIndentedAndOtherTextKept)
{
    EXPECT_EQ(QueryFormatter::json(R"({"a":1,"b":[true]})"),
              "{\n  \"a\": 1,\n  \"b\": [\n    true\n  ]\n}\n");
    EXPECT_EQ(QueryFormatter::json("not json"), "not json\n");
}

}  // namespace
}  // namespace tamsu_cli
