#include "tools/read_ahead.h"

#include "support/exception_text.h"
#include "tools/input_error.h"
#include "tools/raw_read_reader.h"

#include <gtest/gtest.h>

#include <sstream>

namespace tamsu_cli {
namespace {

// A queue of one read makes the decoding thread wait for the caller at every read.
TEST(ReadAheadTest, HandsOutTheSourcesReadsInOrderThenItsError)
{
    std::string text;
    for (int i = 0; i < 50; ++i) {
        text += "read" + std::to_string(i) + "\t0\t1\t" + std::to_string(i) + "\n";
    }
    for (const std::size_t capacity : {1, 4}) {
        SCOPED_TRACE(capacity);
        std::istringstream stream(text + "broken\n");
        RawReadReader source(stream, "input.tsv");
        ReadAhead ahead(source, capacity);
        RawRead read;
        for (int i = 0; i < 50; ++i) {
            ASSERT_TRUE(ahead.next(read));
            ASSERT_EQ(read.read_id + " " + std::to_string(read.samples.at(0)),
                      "read" + std::to_string(i) + " " + std::to_string(i));
        }
        EXPECT_EQ(tamsu_test::exception_text<InputError>([&] { ahead.next(read); }),
                  "input.tsv: line 51: expected 4 tab-separated fields (read id, DAQ offset, DAQ "
                  "scaling, samples), found 1");
    }
    // Stopped before the end, it joins its thread.
    std::istringstream stream(text);
    RawReadReader source(stream, "input.tsv");
    ReadAhead ahead(source, 2);
    RawRead read;
    EXPECT_TRUE(ahead.next(read));
}

}  // namespace
}  // namespace tamsu_cli
