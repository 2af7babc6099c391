#include "support/temp_directory.h"
#include "tools/read_record_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tamsu_cli {
namespace {

// Records are buffered: a full disk may show only at close, which must say so.
TEST(ReadRecordWriterTest, AFailedWriteIsReportedWithItsReason)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    CalledRead read;
    read.read_id = "r1";
    read.called = true;
    read.sequence = "ACGT";
    read.qstring = "####";
    for (const auto format : {RecordFormat::bam, RecordFormat::sam, RecordFormat::fastq}) {
        SCOPED_TRACE(ReadRecordWriter::file_name(format));
        const auto write_all = [&] {
            ReadRecordWriter writer(full, format, "out/reads", RecordHeader{});
            writer.write(read);
            writer.close();
        };
        EXPECT_THAT(write_all, testing::ThrowsMessage<std::runtime_error>(testing::HasSubstr(
                                       "cannot write out/reads: No space left on device")));
    }
    ::close(full);
}

// A tab or line break from the command line or a file name would end a header field or line.
TEST(ReadRecordWriterTest, ControlCharactersNeverReachTheHeader)
{
    tamsu_test::TempDirectory directory;
    const auto path = directory.file("reads.sam");
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    RecordHeader header;
    header.read_groups = {"in\tput"};
    header.command_line = "tamsu basecall --name a\nb";
    ReadRecordWriter writer(file, RecordFormat::sam, path, header);
    writer.close();
    ::close(file);
    std::ifstream written(path);
    EXPECT_THAT(std::string(std::istreambuf_iterator<char>(written), {}),
                testing::AllOf(testing::HasSubstr("@RG\tID:in put\n"),
                               testing::HasSubstr("\tCL:tamsu basecall --name a b\n")));
}

}  // namespace
}  // namespace tamsu_cli
