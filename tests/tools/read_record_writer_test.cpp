#include "tools/read_record_writer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

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

}  // namespace
}  // namespace tamsu_cli
