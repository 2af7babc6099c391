// Outputs on a file system that takes no more: the reason is named and nothing is committed.
// Outputs of a killed run, whole or damaged: resumed from the last checkpoint they hold whole.

#include "support/temp_directory.h"
#include "tools/result_writer.h"

#include <gtest/gtest.h>
#include <htslib/sam.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace tamsu_cli {
namespace {

// Run in a child: files may grow to 4 KiB, so called reads fail while being written and the
// summary rows of uncalled ones (which add no record) fail when closed, after the
// records closed fine. Prints the failure and exits with status 1.
[[noreturn]] void write_past_the_limit(const std::string& directory, bool called)
{
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ResultWriter writer(directory, RecordFormat::fastq, RecordHeader{});
    CalledRead read;
    read.read_id = "read";
    read.called = called;
    read.sequence = std::string(1000, 'A');
    read.qstring = std::string(1000, '5');
    for (int i = 0; i < 200 && writer.error().empty(); ++i) {
        writer.write(read);
    }
    try {
        if (writer.error().empty()) {
            writer.commit();
        }
    } catch (const std::runtime_error& error) {
        std::cerr << error.what() << std::endl;
        std::exit(1);
    }
    std::cerr << writer.error() << std::endl;
    std::exit(writer.error().empty() ? 0 : 1);
}

TEST(ResultWriterTest, AFailedWriteNamesItsReasonAndCommitsNothing)
{
    for (const bool called : {true, false}) {
        SCOPED_TRACE(called ? "while writing" : "while closing");
        tamsu_test::TempDirectory directory;
        EXPECT_EXIT(write_past_the_limit(directory.path(), called), testing::ExitedWithCode(1),
                    (called ? "cannot write .*/reads.fastq.partial: File too large"
                            : "cannot write .*/summary.tsv.partial: File too large"));
        for (const char* name : {"reads.fastq", "summary.tsv"}) {
            EXPECT_FALSE(std::filesystem::exists(directory.file(name))) << name;
            EXPECT_TRUE(std::filesystem::exists(directory.file(name) + std::string(".partial")));
        }
    }
}

std::vector<CalledRead> called_reads(int count)
{
    std::vector<CalledRead> reads(count);
    for (int i = 0; i < count; ++i) {
        auto& read = reads[i];
        read.read_id = "read" + std::to_string(i);
        // Every tenth read too short to call: a summary row and no record.
        read.called = i % 10 != 9;
        read.sequence = read.called ? std::string(500 + 7 * i, "ACGT"[i % 4]) : "";
        read.qstring = std::string(read.sequence.size(), static_cast<char>('#' + i % 40));
        read.mean_qscore = static_cast<float>(i % 40);
    }
    return reads;
}

// Writes `reads` in a child that then dies without flushing anything, as a killed run does.
void write_and_die(const std::string& directory, const std::vector<CalledRead>& reads)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ResultWriter writer(directory, RecordFormat::bam, RecordHeader{}, {{"--config", "x"}});
        for (const auto& read : reads) {
            writer.write(read);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
}

// The records' ids and sequences, each with how often it occurs.
std::map<std::string, int> records_of(const std::string& path)
{
    std::map<std::string, int> found;
    htsFile* file = hts_open(path.c_str(), "r");
    sam_hdr_t* header = file ? sam_hdr_read(file) : nullptr;
    bam1_t* record = bam_init1();
    while (header && sam_read1(file, header, record) >= 0) {
        std::string sequence;
        for (int i = 0; i < record->core.l_qseq; ++i) {
            sequence += seq_nt16_str[bam_seqi(bam_get_seq(record), i)];
        }
        ++found[std::string(bam_get_qname(record)) + " " + sequence];
    }
    bam_destroy1(record);
    sam_hdr_destroy(header);
    if (file) {
        hts_close(file);
    }
    return found;
}

void damage(const std::string& path, std::uint64_t at, const std::string& bytes)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(at));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(ResultWriterTest, AKilledRunResumesFromTheLastCheckpointItsOutputsHoldWhole)
{
    const auto reads = called_reads(400);
    std::map<std::string, int> expected;
    for (const auto& read : reads) {
        if (read.called) {
            ++expected[read.read_id + " " + read.sequence];
        }
    }
    enum Damage { none, records_cut, records_byte, summary_zeros };
    for (const auto how : {none, records_cut, records_byte, summary_zeros}) {
        SCOPED_TRACE(how);
        tamsu_test::TempDirectory directory;
        write_and_die(directory.path(), reads);
        const auto checkpoints =
                RunJournal::read(RunJournal::path_in(directory.path()))->checkpoints;
        ASSERT_GE(checkpoints.size(), 4u);
        const auto last = checkpoints.back();
        const auto before_last = checkpoints[checkpoints.size() - 2];
        const auto records = directory.file("reads.bam.partial");
        if (how == records_cut) {
            std::filesystem::resize_file(records, last.records - 1);
        } else if (how == records_byte) {
            damage(records, (before_last.records + last.records) / 2, std::string(16, '\x55'));
        } else if (how == summary_zeros) {
            damage(directory.file("summary.tsv.partial"), before_last.summary + 1,
                   std::string(last.summary - before_last.summary, '\0'));
        }
        const auto point =
                ResultWriter::resume_point(directory.path(), RecordFormat::bam, checkpoints);
        ASSERT_TRUE(point);
        EXPECT_EQ(point->checkpoint.records, (how == none ? last : before_last).records);

        ResultWriter writer(directory.path(), RecordFormat::bam, RecordHeader{}, *point);
        auto finished = point->finished;
        for (const auto& read : reads) {
            if (finished[read.read_id]-- <= 0) {
                writer.write(read);
            }
        }
        writer.commit();
        EXPECT_EQ(writer.totals().reads, reads.size());
        EXPECT_EQ(writer.totals().not_called, 40u);
        EXPECT_EQ(records_of(directory.file("reads.bam")), expected);
        EXPECT_FALSE(std::filesystem::exists(RunJournal::path_in(directory.path())));
    }
}

}  // namespace
}  // namespace tamsu_cli
