// The tamsu binary end to end, in a temporary directory, against a server process or its own.

#include "client/server_query.h"
#include "program_support/child_process.h"
#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/child_program.h"
#include "support/read_factory.h"
#include "support/server_process.h"
#include "support/temp_directory.h"
#include "tools/raw_read_format.h"
#include "tools/raw_read_reader.h"
#include "tools/slow5_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <thread>

namespace tamsu_cli {
namespace {

using testing::HasSubstr;

// Reads shorter than this many samples come back uncalled: 20 strides of toy_flipflop_fast.
constexpr std::size_t k_shortest_called = 20 * 5;

std::string text_of(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// The tab-separated cells of each line.
std::vector<std::vector<std::string>> cells_of(std::istream& file)
{
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(file, line);) {
        rows.emplace_back();
        std::istringstream cells(line + "\t");
        for (std::string cell; std::getline(cells, cell, '\t');) {
            rows.back().push_back(cell);
        }
    }
    return rows;
}

std::vector<std::vector<std::string>> table_of(const std::string& path)
{
    std::ifstream file(path);
    return cells_of(file);
}

std::vector<std::vector<std::string>> table_of_text(const std::string& text)
{
    std::istringstream lines(text);
    return cells_of(lines);
}

std::multiset<std::string> sorted_lines(const std::string& text)
{
    std::istringstream lines(text);
    std::multiset<std::string> sorted;
    for (std::string line; std::getline(lines, line);) {
        sorted.insert(line);
    }
    return sorted;
}

// Rows by their first cell.
std::map<std::string, std::vector<std::string>>
rows_by_id(const std::vector<std::vector<std::string>>& table)
{
    std::map<std::string, std::vector<std::string>> found;
    for (auto& row : table) {
        found[row.at(0)] = std::move(row);
    }
    return found;
}

class TamsuCliTest : public testing::Test {
protected:
    tamsu_test::ProgramResult tamsu(const std::string& command_line, const std::string& input = {},
                                    int interrupt_after_ms = -1)
    {
        std::istringstream words(command_line);
        return tamsu_test::run_program(TAMSU_CLI_PATH,
                                       {std::istream_iterator<std::string>(words), {}},
                                       m_directory.path(), input, interrupt_after_ms);
    }

    // Simulated reads, then reads one sample short of the shortest called and just that long.
    std::vector<RawRead> write_input(const std::string& name, int count)
    {
        const auto made = tamsu("simulate --min-length 200 --max-length 3000 --count " +
                                std::to_string(count) + " --output " + name);
        EXPECT_EQ(made.exit_code, 0) << made.err;
        std::vector<RawRead> reads;
        RawReadReader reader(file(name));
        for (RawRead read; reader.next(read);) {
            reads.push_back(read);
        }
        std::ofstream appended(file(name), std::ios::app);
        for (const auto length : {k_shortest_called - 1, k_shortest_called}) {
            reads.push_back({"short" + std::to_string(length),
                             0.0f,
                             1.0f,
                             tamsu_test::make_samples(length, 3),
                             {}});
            appended << RawReadFormat::format(reads.back()) << "\n";
        }
        return reads;
    }

    // What samtools printed; a failure fails the test.
    std::string samtools(const std::string& arguments)
    {
        std::istringstream words(arguments);
        const auto result = tamsu_test::run_program(
                SAMTOOLS_PATH, {std::istream_iterator<std::string>(words), {}}, m_directory.path());
        EXPECT_EQ(result.exit_code, 0) << arguments << ": " << result.err;
        return result.out;
    }

    // The lines samtools printed, sorted: reads come back in no fixed order.
    std::multiset<std::string> sorted_samtools(const std::string& arguments)
    {
        return sorted_lines(samtools(arguments));
    }

    std::string file(const std::string& name) const { return m_directory.file(name); }

    tamsu_test::TempDirectory m_directory;
};

// Keygen's keys, a CURVE server, input on stdin, and every output as the toy caller predicts.
TEST_F(TamsuCliTest, BasecallWritesWhatTheServerCalledAlignedAndBarcoded)
{
    ASSERT_EQ(tamsu("keygen server").exit_code + tamsu("keygen client").exit_code, 0);
    EXPECT_EQ(std::filesystem::status(file("client.secret")).permissions() &
                      std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto secret = table_of(file("client.secret"));
    const auto again = tamsu("keygen client");
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_THAT(again.err, HasSubstr("client.secret: exists already"));
    EXPECT_EQ(table_of(file("client.secret")), secret);

    const auto input = write_input("reads.tsv", 8);
    std::map<std::string, reference_server::CalledRead> predicted;
    auto target = input[0].read_id;  // the read with the longest sequence, placed in the reference
    for (const auto& read : input) {
        const auto& called = predicted[read.read_id] = reference_server::ToyCaller::call(
                read.samples, read.daq_offset, read.daq_scaling,
                *reference_server::find_config("toy_flipflop_fast"), {false, false});
        target = called.sequence.size() > predicted[target].sequence.size() ? read.read_id : target;
    }
    const auto& sequence = predicted[target].sequence;
    ASSERT_GE(sequence.size(), 40u);
    std::ofstream(file("ref.fa")) << ">chrB\nACGTTGCA\n>chrA\nGGGGGCCCCC" << sequence << "TTTTT\n";
    tamsu_test::ServerProcess server({"--curve-keys", file("server"), "--curve-allow",
                                      file("client.public"), "ipc://" + file("curve")});
    const auto curve = " --curve-server-key server.public --curve-keys client --server " +
                       server.wait_for_endpoint();
    const auto options = " --output-dir out --index ref.fa --bed /dev/null --barcode-kits TOY-BC12 "
                         "--min-score-front 0 --max-reads-queued 5 --block-size 40 --moves "
                         "--priority high";
    const auto result = tamsu("basecall -" + curve + options, file("reads.tsv"));
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("reads in:      10\n"));
    EXPECT_THAT(result.out, HasSubstr("reads called:  9 (1 not called"));
    const auto records = table_of_text(samtools("view out/reads.bam"));
    ASSERT_EQ(records.size(), input.size() - 1);
    for (const auto& record : records) {
        const auto& expected = predicted.at(record.at(0));
        EXPECT_EQ(record.at(9) + " " + record.at(10), expected.sequence + " " + expected.qstring);
        EXPECT_THAT(record, testing::IsSupersetOf({"RG:Z:standard input", "bk:Z:TOY-BC12"}));
        EXPECT_THAT(record, testing::Contains(testing::StartsWith("mv:B:c,5,1,")));
    }
    const auto sam = rows_by_id(records);
    const auto summary = rows_by_id(table_of(file("out/summary.tsv")));
    ASSERT_EQ(summary.size(), input.size() + 1);
    // The server's header for the index (the last of its two @SQ lines), and this run.
    const auto header = rows_by_id(table_of_text(samtools("view -H --no-PG out/reads.bam")));
    EXPECT_EQ(header.at("@SQ").at(1) + " " + header.at("@SQ").at(2),
              "SN:chrA LN:" + std::to_string(sequence.size() + 15));
    EXPECT_THAT(header.at("@PG"), testing::Contains("CL:tamsu basecall -" + curve + options));
    for (const auto& read : input) {
        SCOPED_TRACE(read.read_id);
        const auto& row = summary.at(read.read_id);
        EXPECT_EQ(row.at(2), std::to_string(read.samples.size()));
        const bool called = read.samples.size() >= k_shortest_called;
        EXPECT_EQ(row.at(1) + row.at(5), called ? "calledTOY-BC12" : "not_called");
        const bool placed = read.read_id == target;
        EXPECT_EQ(row.at(9) + row.at(10) + row.at(12), placed ? "chrA10+" : "");
        EXPECT_EQ(sam.count(read.read_id) ? sam.at(read.read_id).at(1) : "", placed   ? "0"
                                                                             : called ? "4"
                                                                                      : "");
    }

    // The server received every read long enough to call.
    EXPECT_THAT(tamsu("query statistics" + curve).out, HasSubstr("stat_0  9\n"));
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// The same simulated reads through BLOW5, SLOW5 and text give the same called reads.
TEST_F(TamsuCliTest, SignalFilesOfEveryFormatCarryTheSameReads)
{
    std::string expected;
    for (const std::string name : {"reads.tsv", "reads.blow5", "reads.slow5"}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(tamsu("simulate --count 12 --seed 7 --min-length 150 --output " + name).exit_code,
                  0);
        const auto result = tamsu("basecall " + name + " --emit-fastq --output-dir out-" + name);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        // Records in the order they came back.
        auto records = table_of(file("out-" + name + "/reads.fastq"));
        EXPECT_EQ(records.size(), 4u * 12);
        std::multiset<std::string> sorted;
        for (std::size_t i = 0; i + 3 < records.size(); i += 4) {
            sorted.insert(records[i][0] + "\n" + records[i + 1][0] + "\n" + records[i + 3][0]);
        }
        const auto text = std::accumulate(sorted.begin(), sorted.end(), std::string());
        expected = expected.empty() ? text : expected;
        EXPECT_EQ(text, expected);
    }
    std::ofstream(file("not.blow5")) << "read\t1\t1\t1,2\n";
    EXPECT_THAT(tamsu("basecall not.blow5").err,
                HasSubstr("cannot read not.blow5: not a SLOW5 or BLOW5 file"));
}

// Base modifications as MM/ML, read groups from the input's run ids, and the same records in
// BAM, SAM and FASTQ.
TEST_F(TamsuCliTest, RecordsCarryModificationsAndRunsInEveryFormat)
{
    ASSERT_EQ(tamsu("simulate --count 3 --seed 5 --min-length 300 --output plain.slow5").exit_code,
              0);
    // Two runs: the last read belongs to the second.
    std::ifstream plain(file("plain.slow5"));
    std::ofstream runs(file("runs.slow5"));
    for (std::string line; std::getline(plain, line);) {
        if (line == "#num_read_groups\t1") {
            line = "#num_read_groups\t2\n@run_id\trun-a\trun-b";
        }
        runs << (plain.peek() == EOF ? line.replace(line.find("\t0\t"), 3, "\t1\t") : line) << "\n";
    }
    runs.close();
    const std::string basecall = "basecall runs.slow5 --config toy_modbase --output-dir ";
    for (const char* run : {"bam", "sam --emit-sam", "fastq --emit-fastq"}) {
        const auto result = tamsu(basecall + run);
        ASSERT_EQ(result.exit_code, 0) << result.err;
    }
    // Unaligned: without an index the header has no reference sequences.
    samtools("quickcheck -u bam/reads.bam");
    EXPECT_THAT(samtools("view -H bam/reads.bam"), HasSubstr("@RG\tID:run-a\n@RG\tID:run-b\n"));

    std::map<std::string, reference_server::CalledRead> predicted;
    std::map<std::string, std::string> run_ids;
    Slow5Reader reader(file("runs.slow5"));
    for (RawRead read; reader.next(read);) {
        run_ids[read.read_id] = read.run_id;
        predicted[read.read_id] = reference_server::ToyCaller::call(
                read.samples, read.daq_offset, read.daq_scaling,
                *reference_server::find_config("toy_modbase"), {false, false});
    }
    const auto records = table_of_text(samtools("view bam/reads.bam"));
    ASSERT_EQ(records.size(), 3u);
    for (const auto& record : records) {
        SCOPED_TRACE(record.at(0));
        const auto& expected = predicted.at(record.at(0));
        // Each C's probability of 5mC, in the alphabet's last column.
        std::string mm = "MM:Z:C+m?";
        std::string ml = "ML:B:C";
        for (std::size_t i = 0; i < expected.sequence.size(); ++i) {
            if (expected.sequence[i] == 'C') {
                mm += ",0";
                ml += "," + std::to_string(expected.mod_probabilities.at(i * 5 + 4));
            }
        }
        EXPECT_EQ(record.at(1) + " " + record.at(9), "4 " + expected.sequence);
        EXPECT_THAT(record, testing::IsSupersetOf({mm + ";", ml, "RG:Z:" + run_ids[record[0]]}));
    }
    std::set<std::string> runs_seen;
    for (const auto& [id, run_id] : run_ids) {
        runs_seen.insert(run_id);
    }
    EXPECT_EQ(runs_seen, (std::set<std::string>{"run-a", "run-b"}));
    EXPECT_EQ(sorted_samtools("view sam/reads.sam"), sorted_samtools("view bam/reads.bam"));
    std::ifstream fastq(file("fastq/reads.fastq"));
    EXPECT_EQ(sorted_samtools("fastq -T * bam/reads.bam"),
              sorted_lines(std::string(std::istreambuf_iterator<char>(fastq), {})));
}

// A directory's signal files, its subdirectory's with --recursive; the summary names each read's
// file, and ids met again are counted and named.
TEST_F(TamsuCliTest, BasecallTakesADirectoryAndNamesTheFileOfEachRead)
{
    std::filesystem::create_directories(file("in/sub"));
    for (const std::string made :
         {"--count 5 --seed 1 --output in/a.blow5", "--count 3 --seed 2 --output in/b.tsv",
          "--count 2 --seed 3 --output in/sub/c.tsv"}) {
        ASSERT_EQ(tamsu("simulate --min-length 150 " + made).exit_code, 0);
    }
    // Within one file, so that every read with an id comes from the same file.
    std::stringstream reads_of_b;
    reads_of_b << std::ifstream(file("in/b.tsv")).rdbuf();
    std::ofstream(file("in/b.tsv"), std::ios::app) << reads_of_b.str();
    std::string ids_of_b;
    RawReadReader reader(file("in/b.tsv"));
    RawRead read;
    for (int i = 0; i < 3 && reader.next(read); ++i) {
        ids_of_b += (i == 0 ? "" : ", ") + read.read_id;
    }

    const auto result = tamsu("basecall in --recursive --output-dir out");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("reads in:      13\n"));
    EXPECT_THAT(result.out, HasSubstr("duplicate ids: 3\n"));
    EXPECT_THAT(result.err,
                HasSubstr("warning: 3 reads have the id of an earlier read: " + ids_of_b + "\n"));
    std::map<std::string, int> rows_per_file;
    for (const auto& row : table_of(file("out/summary.tsv"))) {
        ++rows_per_file[row.at(13)];
    }
    EXPECT_EQ(
            rows_per_file,
            (std::map<std::string, int>{
                    {"source_file", 1}, {"in/a.blow5", 5}, {"in/b.tsv", 6}, {"in/sub/c.tsv", 2}}));
}

// Every way a run ends: its exit status, what it says, and the partial files it may leave.
TEST_F(TamsuCliTest, EachEndHasItsExitStatusMessageAndOutput)
{
    write_input("reads.tsv", 2);
    // The malformed line comes after good ones.
    std::filesystem::copy_file(file("reads.tsv"), file("bad.tsv"));
    std::ofstream(file("bad.tsv"), std::ios::app) << "# a comment\n\nbroken\t1.0\t1.0\t1,2,x\n";
    // One read at a time, each held back: the run would take minutes uninterrupted.
    tamsu_test::ServerProcess slow(
            {"ipc://" + file("slow"), "--max-reads-in-flight", "1", "--call-delay", "5000"});
    const auto nobody = " --server ipc://" + file("nobody");
    const std::string run = "basecall reads.tsv --output-dir out ";
    struct Case {
        std::string command_line;
        int exit_code;
        std::string texts;  // in the output or the error output, each after a "|"
        bool partial = false;
        int interrupt_after_ms = -1;
    };
    std::vector<Case> cases = {
            {"basecall --help", 0, "read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> samples"},
            {"query barcode-kits", 0,
             "  TOY-DUAL  barcodes 1-8, inner 1-12, dual, both ends, first name "
             "barcode_external01_internal01\n"},
            {"query lamp-kits", 0,
             "LAMP kits: 2\n  TOY-LAMP  barcodes 1-96, first name FIP01, "
             "targets target_a target_b target_c\n"},
            {"query statistics", 0, "(their meaning is up to the server):\n  stat_0  0\n"},
            {"query server-info", 0, "{\n  \"name\": \"tamsu reference basecall server\",\n"},
            {"query internal-state", 0, "\"ServerInformation\""},
            {"query statistics --timeout 100" + nobody, 1, "timed_out"},
            {"basecall missing.tsv --output-dir out", 1, "cannot read missing.tsv"},
            {"basecall bad.tsv --output-dir out", 1,
             "bad.tsv: line 7: sample 3 |out/reads.bam.partial", true},
            // The client's refusal, as the server gave it.
            {run + "--lamp-kit NO-SUCH-LAMP", 1,
             "[barcode_kit_unavailable] the server has no LAMP kit 'NO-SUCH-LAMP'"},
            {run + "--timeout 200 --reconnect-timeout 1" + nobody, 1,
             "cannot connect to server ipc://|timed_out"},
            // Unanswered, the client's defaults would keep it connecting for about five minutes.
            {run + nobody, 1, "attempt 1\n|interrupted while connecting to server ipc://", false,
             3000},
            {run + "--server " + slow.wait_for_endpoint(), 1,
             "did not complete: interrupted|Basecalling INCOMPLETE", true, 3000},
    };
    for (const char* usage :
         {"", "frobnicate", "basecall", "simulate --min-length 9 --max-length 3", "keygen",
          "query everything", "query statistics --server 5555 --curve-keys client"}) {
        cases.push_back({usage, 2, "Usage: tamsu"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command_line);
        const std::string earlier = "@old\nA\n+\n#\n";
        if (c.partial) {
            // An earlier complete run, which stays until a run completes.
            std::filesystem::create_directory(file("out"));
            std::ofstream(file("out/reads.bam")) << earlier;
        }
        const auto result = tamsu(c.command_line, {}, c.interrupt_after_ms);
        EXPECT_EQ(result.exit_code, c.exit_code) << result.err;
        std::istringstream texts(c.texts);
        for (std::string text; std::getline(texts, text, '|');) {
            EXPECT_THAT(result.out + result.err, HasSubstr(text));
        }
        const auto exists = [&](const char* name) { return std::filesystem::exists(file(name)); };
        EXPECT_EQ(exists("out"), c.partial);
        EXPECT_EQ(exists("out/reads.bam.partial") && exists("out/summary.tsv.partial") &&
                          text_of(file("out/reads.bam")) == earlier,
                  c.partial);
        std::filesystem::remove_all(file("out"));
    }
    EXPECT_EQ(slow.stop(SIGTERM), 0);
}

// Outputs go only where they belong: not through a planted link, not over an input, and a
// completed run leaves nothing of an earlier one beside its own files.
TEST_F(TamsuCliTest, OutputsReplaceOnlyTheirOwnFiles)
{
    write_input("reads.tsv", 3);
    std::filesystem::create_directory(file("out"));
    std::ofstream(file("victim")) << "victim\n";
    std::filesystem::create_symlink("../victim", file("out/reads.fastq.partial"));
    std::ofstream(file("out/reads.sam")) << "@HD\tVN:1.6\n";
    std::ofstream(file("out/reads.bam")) << "old";
    // Valid input, at an output's name and under another name.
    std::filesystem::copy_file(file("reads.tsv"), file("out/summary.tsv"));
    std::filesystem::create_hard_link(file("out/summary.tsv"), file("linked.tsv"));
    for (const auto& [input, from_stdin] :
         {std::pair<std::string, bool>{"linked.tsv", false}, {"-", true}}) {
        SCOPED_TRACE(input);
        const auto refused = tamsu("basecall " + input + " --output-dir out",
                                   from_stdin ? file("out/summary.tsv") : "");
        EXPECT_EQ(refused.exit_code, 1);
        EXPECT_THAT(refused.err,
                    HasSubstr("refusing to read " + input + ": it is the output out/summary.tsv"));
    }
    EXPECT_EQ(text_of(file("out/summary.tsv")), text_of(file("reads.tsv")));

    const auto result = tamsu("basecall reads.tsv --emit-fastq --output-dir out");
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(text_of(file("victim")), "victim\n");
    EXPECT_EQ(table_of(file("out/reads.fastq")).size(), 4u * 4);
    EXPECT_FALSE(std::filesystem::exists(file("out/reads.sam")));
    EXPECT_FALSE(std::filesystem::exists(file("out/reads.bam")));
    EXPECT_FALSE(std::filesystem::exists(file("out/reads.fastq.partial")));
}

// An answer standard output did not take is a failure.
TEST_F(TamsuCliTest, UnwrittenAnswerFails)
{
    program_support::ChildSetup setup;
    setup.output_file = "/dev/full";
    setup.error_file = file("err");
    program_support::ChildProcess query(TAMSU_CLI_PATH, {"query", "barcode-kits"}, setup);
    EXPECT_EQ(query.wait_for(std::chrono::seconds(60)), 1);
    EXPECT_THAT(text_of(file("err")), HasSubstr("tamsu query: cannot write standard output"));
}

// Two servers share the reads; when one is lost mid-run, the other calls what it held.
TEST_F(TamsuCliTest, SeveralServersShareTheReadsAndTakeOverFromALostOne)
{
    const auto input = write_input("reads.tsv", 40);
    struct Case {
        const char* name;
        // The second server holds every read far longer than the run may take, then is killed.
        bool lost;
    };
    for (const auto& c : {Case{"healthy", false}, Case{"lost", true}}) {
        SCOPED_TRACE(c.name);
        tamsu_test::ServerProcess first({"ipc://" + file(std::string("first-") + c.name)});
        std::vector<std::string> arguments = {"ipc://" + file(std::string("second-") + c.name)};
        if (c.lost) {
            arguments.insert(arguments.end(), {"--call-delay", "600000"});
        }
        tamsu_test::ServerProcess second(arguments);
        const auto endpoints =
                std::vector<std::string>{first.wait_for_endpoint(), second.wait_for_endpoint()};
        // Killed once it holds reads.
        std::thread killer([&] {
            tamsu::server_query::ServerStatistics statistics;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (c.lost && std::chrono::steady_clock::now() < deadline) {
                if (tamsu::server_query::get_server_statistics(statistics, endpoints[1], 5000) ==
                            tamsu::Result::success &&
                    statistics.stat_0 > 0) {
                    second.send_signal(SIGKILL);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        const auto out = std::string("out-") + c.name;
        const auto result = tamsu(
                "basecall reads.tsv --emit-fastq --timeout 1000 --reconnect-timeout 1 --server " +
                endpoints[0] + " --server " + endpoints[1] + " --output-dir " + out);
        killer.join();
        ASSERT_EQ(result.exit_code, 0) << result.err;
        const auto summary = table_of(file(out + "/summary.tsv"));
        std::multiset<std::string> ids;
        for (std::size_t row = 1; row < summary.size(); ++row) {
            ids.insert(summary[row].at(0));
        }
        EXPECT_EQ(table_of(file(out + "/reads.fastq")).size(), 4 * (input.size() - 1));
        for (const auto& read : input) {
            EXPECT_EQ(ids.count(read.read_id), 1u) << read.read_id;
        }
        EXPECT_EQ(ids.size(), input.size());
        std::map<std::string, int> returned;
        // Lines "server ADDRESS: COUNT".
        std::istringstream lines(result.out);
        for (std::string line; std::getline(lines, line);) {
            const auto server = line.find("server ");
            const auto colon = line.rfind(": ");
            if (server != std::string::npos && colon != std::string::npos && colon > server) {
                returned[line.substr(server + 7, colon - server - 7)] =
                        std::stoi(line.substr(colon + 2));
            }
        }
        EXPECT_GT(returned[endpoints[0]], 0);
        if (c.lost) {
            EXPECT_EQ(returned[endpoints[1]], 0);
            EXPECT_THAT(result.out, HasSubstr("  lost:          server " + endpoints[1] + ", "));
            EXPECT_THAT(result.err, HasSubstr("tamsu: lost server " + endpoints[1]));
        } else {
            EXPECT_GT(returned[endpoints[1]], 0);
        }
    }
}

// Killed with SIGKILL at several points and resumed each time, a run over several BLOW5 files
// ends with the records and summary of a run never interrupted.
TEST_F(TamsuCliTest, ARunKilledAnywhereResumesToTheSameOutputs)
{
    std::string inputs;
    for (const std::string seed : {"1", "2", "3"}) {
        const auto name = "in" + seed + ".blow5";
        ASSERT_EQ(tamsu("simulate --count 300 --min-length 2000 --max-length 8000 --seed " + seed +
                        " --output " + name)
                          .exit_code,
                  0);
        inputs += name + " ";
    }
    const auto whole = tamsu("basecall " + inputs + "--moves --output-dir whole");
    ASSERT_EQ(whole.exit_code, 0) << whole.err;

    const auto rows = [&] { return table_of(file("part/summary.tsv.partial")).size(); };
    for (const std::size_t kill_at : {2, 250, 500, 800}) {
        SCOPED_TRACE(kill_at);
        program_support::ChildSetup setup;
        setup.work_directory = m_directory.path();
        setup.output_file = file("out.txt");
        setup.error_file = file("err.txt");
        std::istringstream words("basecall " + inputs + "--moves --resume --output-dir part");
        program_support::ChildProcess run(TAMSU_CLI_PATH,
                                          {std::istream_iterator<std::string>(words), {}}, setup);
        while (!run.wait_for(std::chrono::milliseconds(2)) && rows() < kill_at) {
        }
        ASSERT_TRUE(run.send_signal(SIGKILL)) << "the run ended before it was killed";
        run.wait();
    }
    EXPECT_THAT(tamsu("basecall " + inputs + "--resume --output-dir part").err,
                HasSubstr("its settings differ: --moves was 'true', now 'false'"));
    EXPECT_THAT(tamsu("basecall in1.blow5 in2.blow5 --moves --resume --output-dir part").err,
                testing::MatchesRegex(".*its settings differ: input .*/in3.blow5 .* is missing.*"));
    const auto resumed = tamsu("basecall " + inputs + "--moves --resume --output-dir part");
    ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
    EXPECT_THAT(resumed.err, HasSubstr("tamsu: resuming the run in part: "));
    EXPECT_THAT(resumed.out, HasSubstr("reads in:      900\n"));
    EXPECT_EQ(sorted_samtools("view part/reads.bam"), sorted_samtools("view whole/reads.bam"));
    EXPECT_EQ(sorted_lines(text_of(file("part/summary.tsv"))),
              sorted_lines(text_of(file("whole/summary.tsv"))));
    EXPECT_FALSE(std::filesystem::exists(file("part/resume.journal")));
}

}  // namespace
}  // namespace tamsu_cli
