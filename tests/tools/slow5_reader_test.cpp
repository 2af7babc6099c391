#include "tools/slow5_reader.h"

#include "support/exception_text.h"
#include "support/temp_directory.h"
#include "tools/input_error.h"
#include "tools/raw_read_format.h"
#include "tools/raw_read_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <slow5/slow5.h>

#include <array>
#include <filesystem>
#include <fstream>

namespace tamsu_cli {
namespace {

// Signal with the largest steps an int16 can take, so that zigzag deltas use every bit.
std::vector<RawRead> reads()
{
    std::vector<RawRead> made;
    for (int r = 0; r < 3; ++r) {
        RawRead read{"read-" + std::to_string(r), 10.0f + r, 1400.0f / 8192.0f, {}, {}};
        for (int i = 0; i < 3000 + 1000 * r; ++i) {
            read.samples.push_back(
                    static_cast<std::int16_t>(i % 5 == 0 ? -32768 + i : 400 + i % 97));
        }
        read.samples.push_back(32767);
        made.push_back(read);
    }
    // Steps of one, two and three bytes in every order, so that every grouping of value
    // widths occurs.
    RawRead mixed{"mixed", 0.0f, 1400.0f / 8192.0f, {0}, {}};
    std::uint32_t state = 1;
    for (int i = 0; i < 4000; ++i) {
        state = state * 1664525u + 1013904223u;
        const int widest = std::array<int, 3>{60, 8000, 30000}[(state >> 30) % 3];
        const int step = static_cast<int>((state >> 8) % (2 * widest + 1)) - widest;
        mixed.samples.push_back(static_cast<std::int16_t>(mixed.samples.back() + step));
    }
    made.push_back(mixed);
    return made;
}

void write(const std::string& path, slow5_press_method records, slow5_press_method signal,
           const std::vector<RawRead>& contents)
{
    slow5_file_t* file = slow5_open(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    // Text files take no compression.
    if (path.substr(path.size() - 6) == ".blow5") {
        ASSERT_EQ(slow5_set_press(file, records, signal), 0);
    }
    ASSERT_GT(slow5_hdr_write(file), 0);
    for (const auto& read : contents) {
        slow5_rec_t* record = slow5_rec_init();
        record->read_id = strdup(read.read_id.c_str());
        record->read_id_len = static_cast<slow5_rid_len_t>(read.read_id.size());
        record->digitisation = 8192;
        record->offset = read.daq_offset;
        record->range = 1400;
        record->sampling_rate = 4000;
        record->len_raw_signal = read.samples.size();
        record->raw_signal = static_cast<std::int16_t*>(malloc(2 * read.samples.size()));
        std::copy(read.samples.begin(), read.samples.end(), record->raw_signal);
        EXPECT_GT(slow5_write(record, file), 0);
        slow5_rec_free(record);
    }
    slow5_close(file);
}

std::vector<RawRead> read_all(const std::string& path)
{
    Slow5Reader reader(path);
    std::vector<RawRead> found;
    for (RawRead read; reader.next(read);) {
        found.push_back(read);
    }
    return found;
}

TEST(Slow5ReaderTest, EveryRecordAndSignalCompressionReadsBackExactly)
{
    const tamsu_test::TempDirectory directory;
    const auto expected = reads();
    const struct {
        const char* name;
        slow5_press_method records;
        slow5_press_method signal;
    } cases[] = {{"text.slow5", SLOW5_COMPRESS_NONE, SLOW5_COMPRESS_NONE},
                 {"plain.blow5", SLOW5_COMPRESS_NONE, SLOW5_COMPRESS_NONE},
                 {"zlib.blow5", SLOW5_COMPRESS_ZLIB, SLOW5_COMPRESS_NONE},
                 {"zstd.blow5", SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_NONE},
                 {"svb.blow5", SLOW5_COMPRESS_NONE, SLOW5_COMPRESS_SVB_ZD},
                 {"zlib-svb.blow5", SLOW5_COMPRESS_ZLIB, SLOW5_COMPRESS_SVB_ZD},
                 {"zstd-svb.blow5", SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_SVB_ZD}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write(directory.file(c.name), c.records, c.signal, expected);
        const auto found = read_all(directory.file(c.name));
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].read_id, expected[i].read_id);
            EXPECT_EQ(found[i].daq_offset, expected[i].daq_offset);
            EXPECT_FLOAT_EQ(found[i].daq_scaling, expected[i].daq_scaling);
            EXPECT_EQ(found[i].samples, expected[i].samples);
        }
    }
}

TEST(Slow5ReaderTest, FilesThatCannotBeReadNameTheFileAndNeverCrash)
{
    const tamsu_test::TempDirectory directory;
    const auto good = directory.file("good.blow5");
    write(good, SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_SVB_ZD, reads());
    const auto bytes = std::filesystem::file_size(good);
    std::ofstream(directory.file("text.blow5")) << "read_id\tsignal\n";
    for (const auto size : {bytes / 2, bytes - 10}) {
        const auto cut = directory.file("cut" + std::to_string(size) + ".blow5");
        std::filesystem::copy_file(good, cut);
        std::filesystem::resize_file(cut, size);
        SCOPED_TRACE(cut);
        EXPECT_THAT(tamsu_test::exception_text<InputError>([&] { read_all(cut); }),
                    testing::StartsWith(cut + ": record "));
    }
    for (const auto& path : {directory.file("missing.blow5"), directory.file("text.blow5")}) {
        EXPECT_EQ(tamsu_test::exception_text<InputError>([&] { read_all(path); }),
                  "cannot read " + path + ": not a SLOW5 or BLOW5 file");
    }
}

// Ids that would break the line-based outputs, refused where they stand in either kind of file.
TEST(Slow5ReaderTest, ReadIdsEmptyOrWithControlCharactersAreRefusedWithTheirPlace)
{
    const tamsu_test::TempDirectory directory;
    for (const std::string& id : {std::string("a\x01b"), std::string("a\rb"), std::string()}) {
        SCOPED_TRACE(testing::PrintToString(id));
        auto contents = reads();
        contents[1].read_id = id;
        const auto blow5 = directory.file("ids.blow5");
        write(blow5, SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_SVB_ZD, contents);
        const auto problem = id.empty() ? "the read id is empty"
                                        : "the read id holds a control character (code " +
                                                  std::to_string(id[1]) + ")";
        EXPECT_EQ(tamsu_test::exception_text<InputError>([&] { read_all(blow5); }),
                  blow5 + ": record 2: " + problem);
        const auto text = directory.file("ids.tsv");
        std::ofstream(text) << "# reads\n"
                            << RawReadFormat::format(contents[0]) << "\n"
                            << RawReadFormat::format(contents[1]) << "\n";
        EXPECT_EQ(tamsu_test::exception_text<InputError>([&] {
                      RawReadReader reader(text);
                      for (RawRead read; reader.next(read);) {
                      }
                  }),
                  text + ": line 3: " + problem);
    }
}

// Long and short records alternate, so that the decoding threads finish them out of order.
TEST(Slow5ReaderTest, ReadsComeInFileOrderFromEveryDecoderThenTheFailingRecord)
{
    const tamsu_test::TempDirectory directory;
    std::vector<RawRead> contents;
    for (int r = 0; r < 40; ++r) {
        contents.push_back({"read-" + std::to_string(r),
                            0.0f,
                            1.0f,
                            std::vector<std::int16_t>(r % 2 == 0 ? 20000 : 10, std::int16_t(r)),
                            {}});
    }
    contents[30].read_id.clear();
    const auto path = directory.file("order.blow5");
    write(path, SLOW5_COMPRESS_ZSTD, SLOW5_COMPRESS_SVB_ZD, contents);
    for (const std::size_t threads : {1, 3}) {
        SCOPED_TRACE(threads);
        Slow5Reader reader(path, threads);
        std::vector<std::string> found;
        const auto error = tamsu_test::exception_text<InputError>([&] {
            for (RawRead read; reader.next(read);) {
                found.push_back(read.read_id + ":" + std::to_string(read.samples.at(0)));
            }
        });
        EXPECT_EQ(error, path + ": record 31: the read id is empty");
        ASSERT_EQ(found.size(), 30u);
        for (std::size_t r = 0; r < found.size(); ++r) {
            EXPECT_EQ(found[r], "read-" + std::to_string(r) + ":" + std::to_string(r));
        }
    }
}

}  // namespace
}  // namespace tamsu_cli
