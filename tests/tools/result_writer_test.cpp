// Outputs on a file system that takes no more: the reason is named and nothing is committed.

#include "support/temp_directory.h"
#include "tools/result_writer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

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

}  // namespace
}  // namespace tamsu_cli
