// The tamsu program end to end: the real binary, run as a child process in a temporary
// directory, against the embedded server or a reference server process.

#include "server/catalogue.h"
#include "server/toy_caller.h"
#include "support/child_program.h"
#include "support/server_process.h"
#include "support/temp_directory.h"
#include "tools/raw_read_format.h"
#include "tools/raw_read_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace tamsu_cli {
namespace {

using tamsu_test::ProgramResult;
using tamsu_test::TempDirectory;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

// Reads shorter than this many samples come back uncalled: 20 strides of toy_flipflop_fast.
constexpr std::size_t k_shortest_called = 20 * 5;

struct FastqRecord {
    std::string id;
    std::map<std::string, std::string> fields;
    std::string sequence;
    std::string qualities;
};

std::string slurp(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream stream(text + separator);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

// Fails the test unless the text is whole four-line records.
std::vector<FastqRecord> parse_fastq(const std::string& text)
{
    const auto lines = lines_of(text);
    EXPECT_EQ(lines.size() % 4, 0u);
    std::vector<FastqRecord> records;
    for (std::size_t i = 0; i + 3 < lines.size(); i += 4) {
        EXPECT_THAT(lines[i], StartsWith("@"));
        EXPECT_EQ(lines[i + 2], "+");
        FastqRecord record;
        const auto words = split(lines[i].substr(1), ' ');
        record.id = words[0];
        for (std::size_t w = 1; w < words.size(); ++w) {
            const auto equals = words[w].find('=');
            EXPECT_NE(equals, std::string::npos) << lines[i];
            record.fields[words[w].substr(0, equals)] = words[w].substr(equals + 1);
        }
        record.sequence = lines[i + 1];
        record.qualities = lines[i + 3];
        records.push_back(record);
    }
    return records;
}

// Summary rows by read id, each column by its header name.
std::map<std::string, std::map<std::string, std::string>> parse_summary(const std::string& text)
{
    const auto lines = lines_of(text);
    EXPECT_FALSE(lines.empty());
    const auto header = split(lines.at(0), '\t');
    std::map<std::string, std::map<std::string, std::string>> rows;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto cells = split(lines[i], '\t');
        EXPECT_EQ(cells.size(), header.size()) << lines[i];
        auto& row = rows[cells.at(0)];
        for (std::size_t c = 0; c < header.size() && c < cells.size(); ++c) {
            row[header[c]] = cells[c];
        }
    }
    EXPECT_EQ(rows.size(), lines.size() - 1) << "read ids repeat in the summary";
    return rows;
}

std::vector<RawRead> read_input(const std::string& path)
{
    RawReadReader reader(path);
    std::vector<RawRead> reads;
    for (RawRead read; reader.next(read);) {
        reads.push_back(read);
    }
    return reads;
}

std::set<std::string> partial_files(const std::string& directory)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class TamsuCliTest : public testing::Test {
protected:
    ProgramResult tamsu(const std::vector<std::string>& arguments, const std::string& input = {},
                        int interrupt_after_ms = -1)
    {
        return tamsu_test::run_program(TAMSU_CLI_PATH, arguments, m_directory.path(), input,
                                       interrupt_after_ms);
    }

    // Simulated reads plus a few too short to call (one just long enough), in `name`.
    std::vector<RawRead> write_input(const std::string& name, int count, std::uint64_t seed)
    {
        const auto path = m_directory.file(name);
        const auto result =
                tamsu({"simulate", "--count", std::to_string(count), "--min-length", "200",
                       "--max-length", "3000", "--seed", std::to_string(seed), "--output", path});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        std::ofstream file(path, std::ios::app);
        for (const std::size_t length : {10u, 60u, 99u, 100u}) {
            RawRead read;
            read.read_id = "short_" + std::to_string(length);
            read.samples.assign(length, 500);
            file << RawReadFormat::format(read) << "\n";
        }
        file.close();
        return read_input(path);
    }

    std::string file(const std::string& name) const { return m_directory.file(name); }

    TempDirectory m_directory;
};

TEST_F(TamsuCliTest, SimulateIsDeterministicForASeed)
{
    const auto first = tamsu({"simulate", "--count", "20", "--seed", "9", "--max-length", "900",
                              "--min-length", "300"});
    const auto again = tamsu({"simulate", "--count", "20", "--seed", "9", "--max-length", "900",
                              "--min-length", "300", "--output", file("again.tsv")});
    const auto other = tamsu({"simulate", "--count", "20", "--seed", "10", "--max-length", "900",
                              "--min-length", "300"});
    ASSERT_EQ(first.exit_code, 0) << first.err;
    ASSERT_EQ(again.exit_code, 0) << again.err;
    EXPECT_EQ(first.out, slurp(file("again.tsv")));
    EXPECT_NE(first.out, other.out);
    const auto reads = read_input(file("again.tsv"));
    ASSERT_EQ(reads.size(), 20u);
    for (const auto& read : reads) {
        EXPECT_GE(read.samples.size(), 300u);
        EXPECT_LE(read.samples.size(), 900u);
    }
}

TEST_F(TamsuCliTest, BasecallWritesEveryCalledReadWithTheServersResults)
{
    const auto input = write_input("reads.tsv", 150, 5);
    const auto result = tamsu({"basecall", "reads.tsv", "--output-dir", "out"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Basecalling complete"));
    EXPECT_THAT(result.out, HasSubstr("reads in:      154\n"));
    EXPECT_THAT(result.out, HasSubstr("reads called:  151 (3 not called"));
    EXPECT_EQ(partial_files(file("out")), (std::set<std::string>{"reads.fastq", "summary.tsv"}));

    const auto records = parse_fastq(slurp(file("out/reads.fastq")));
    const auto summary = parse_summary(slurp(file("out/summary.tsv")));
    std::map<std::string, FastqRecord> by_id;
    for (const auto& record : records) {
        by_id[record.id] = record;
    }
    EXPECT_EQ(by_id.size(), records.size());
    EXPECT_EQ(summary.size(), input.size());
    const auto* config = reference_server::find_config("toy_flipflop_fast");
    ASSERT_NE(config, nullptr);
    for (const auto& read : input) {
        const auto& row = summary.at(read.read_id);
        EXPECT_EQ(row.at("samples"), std::to_string(read.samples.size()));
        if (read.samples.size() < k_shortest_called) {
            EXPECT_EQ(row.at("status"), "not_called");
            EXPECT_EQ(by_id.count(read.read_id), 0u);
            continue;
        }
        ASSERT_EQ(by_id.count(read.read_id), 1u) << read.read_id;
        const auto& record = by_id.at(read.read_id);
        // The toy caller is deterministic: the signal must have reached it unchanged.
        const auto expected = reference_server::ToyCaller::call(
                read.samples, read.daq_offset, read.daq_scaling, *config, {false, false});
        EXPECT_EQ(record.sequence, expected.sequence) << read.read_id;
        EXPECT_EQ(record.qualities, expected.qstring) << read.read_id;
        EXPECT_EQ(record.fields.at("length"), std::to_string(record.sequence.size()));
        EXPECT_EQ(row.at("status"), "called");
        EXPECT_EQ(row.at("sequence_length"), std::to_string(record.sequence.size()));
        EXPECT_EQ(row.at("mean_qscore"), record.fields.at("mean_qscore"));
    }
}

TEST_F(TamsuCliTest, AnIndexAddsSamWithEveryCalledReadAndTheAlignedOnePlaced)
{
    write_input("reads.tsv", 30, 21);
    ASSERT_EQ(tamsu({"basecall", "reads.tsv", "--output-dir", "plain"}).exit_code, 0);
    const auto records = parse_fastq(slurp(file("plain/reads.fastq")));
    ASSERT_FALSE(records.empty());
    const auto target =
            *std::max_element(records.begin(), records.end(), [](const auto& a, const auto& b) {
                return a.sequence.size() < b.sequence.size();
            });
    ASSERT_GE(target.sequence.size(), 40u);
    std::ofstream(file("ref.fa")) << ">chrA\nGGGGGCCCCC" << target.sequence
                                  << "TTTTT\n>chrB\nACGTTGCA\n";

    const auto result = tamsu({"basecall", "reads.tsv", "--output-dir", "aligned", "--index",
                               "ref.fa", "--bed", "/dev/null"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("aligned/reads.sam"));
    const auto sam = lines_of(slurp(file("aligned/reads.sam")));
    ASSERT_GE(sam.size(), 4u);
    EXPECT_THAT(sam[0], StartsWith("@HD\t"));
    EXPECT_EQ(sam[1], "@SQ\tSN:chrA\tLN:" + std::to_string(target.sequence.size() + 15));
    EXPECT_EQ(sam[2], "@SQ\tSN:chrB\tLN:8");
    EXPECT_THAT(sam[3], StartsWith("@PG\tID:tamsu"));
    std::map<std::string, std::vector<std::string>> by_id;
    for (std::size_t i = 4; i < sam.size(); ++i) {
        const auto cells = split(sam[i], '\t');
        ASSERT_GE(cells.size(), 11u) << sam[i];
        EXPECT_EQ(by_id.count(cells[0]), 0u) << "two records for " << cells[0];
        by_id[cells[0]] = cells;
    }
    EXPECT_EQ(by_id.size(), records.size());
    for (const auto& record : records) {
        const auto& cells = by_id.at(record.id);
        const bool is_target = record.id == target.id;
        EXPECT_EQ(cells[1], is_target ? "0" : "4") << record.id;
        EXPECT_EQ(cells[2], is_target ? "chrA" : "*") << record.id;
        EXPECT_EQ(cells[9], record.sequence.empty() ? "*" : record.sequence);
    }
    EXPECT_EQ(by_id.at(target.id)[3], "11");
    const auto summary = parse_summary(slurp(file("aligned/summary.tsv")));
    EXPECT_EQ(summary.at(target.id).at("alignment_genome"), "chrA");
    EXPECT_EQ(summary.at(target.id).at("alignment_genome_start"), "10");
    EXPECT_EQ(summary.at(target.id).at("alignment_direction"), "+");
    for (const auto& record : parse_fastq(slurp(file("aligned/reads.fastq")))) {
        EXPECT_EQ(record.fields.count("alignment"), record.id == target.id ? 1u : 0u);
        if (record.id == target.id) {
            EXPECT_EQ(record.fields.at("alignment"), "chrA:10");
        }
    }
}

TEST_F(TamsuCliTest, ReadsFromStandardInputThroughAServerProcess)
{
    const auto input = write_input("reads.tsv", 40, 8);
    tamsu_test::ServerProcess server({"ipc://" + file("server")});
    const auto endpoint = server.wait_for_endpoint();
    ASSERT_FALSE(endpoint.empty());
    const auto result = tamsu({"basecall", "-", "--server", endpoint, "--output-dir", "out",
                               "--max-reads-queued", "5", "--block-size", "40", "--moves",
                               "--priority", "high", "--name", "cli-test"},
                              file("reads.tsv"));
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(parse_fastq(slurp(file("out/reads.fastq"))).size(), input.size() - 3);

    // The same server answers the query: it received every read long enough to call.
    const auto stats = tamsu({"query", "statistics", "--server", endpoint});
    ASSERT_EQ(stats.exit_code, 0) << stats.err;
    EXPECT_THAT(stats.out, HasSubstr("stat_0  " + std::to_string(input.size() - 3) + "\n"));
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

// The files keygen writes are what the server's and the client's CURVE flags take.
TEST_F(TamsuCliTest, KeygenPairsServeAndConnectOverCurve)
{
    for (const char* prefix : {"server", "client"}) {
        const auto made = tamsu({"keygen", prefix});
        ASSERT_EQ(made.exit_code, 0) << made.err;
    }
    const auto permissions = std::filesystem::status(file("client.secret")).permissions();
    EXPECT_EQ(permissions & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto secret = slurp(file("client.secret"));
    const auto again = tamsu({"keygen", "client"});
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_THAT(again.err, HasSubstr("client.secret: exists already"));
    EXPECT_EQ(slurp(file("client.secret")), secret);

    const auto input = write_input("reads.tsv", 10, 3);
    tamsu_test::ServerProcess server({"--curve-keys", file("server"), "--curve-allow",
                                      file("client.public"), "ipc://" + file("curve")});
    const auto endpoint = server.wait_for_endpoint();
    ASSERT_FALSE(endpoint.empty());
    const auto result = tamsu({"basecall", "reads.tsv", "--server", endpoint, "--output-dir", "out",
                               "--curve-server-key", "server.public", "--curve-keys", "client"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(parse_fastq(slurp(file("out/reads.fastq"))).size(), input.size() - 3);
    const auto plain = tamsu({"query", "statistics", "--server", endpoint, "--timeout", "250"});
    EXPECT_EQ(plain.exit_code, 1);
    EXPECT_THAT(plain.err, HasSubstr("statistics failed: failed"));
    const auto stats = tamsu({"query", "statistics", "--server", endpoint, "--curve-server-key",
                              "server.public", "--curve-keys", "client"});
    ASSERT_EQ(stats.exit_code, 0) << stats.err;
    EXPECT_THAT(stats.out, HasSubstr("stat_0  " + std::to_string(input.size() - 3) + "\n"));
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST_F(TamsuCliTest, BarcodingOptionsReachTheServer)
{
    write_input("reads.tsv", 20, 3);
    const auto result = tamsu({"basecall", "reads.tsv", "--output-dir", "out", "--barcode-kits",
                               "TOY-BC12", "--min-score-front", "0", "--trim-barcodes"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const auto& entry : parse_summary(slurp(file("out/summary.tsv")))) {
        const bool called = entry.second.at("status") == "called";
        EXPECT_EQ(entry.second.at("barcode_kit"), called ? "TOY-BC12" : "") << entry.first;
    }
    for (const auto& record : parse_fastq(slurp(file("out/reads.fastq")))) {
        EXPECT_EQ(record.fields.count("barcode"), 1u) << record.id;
    }

    const auto refused = tamsu(
            {"basecall", "reads.tsv", "--output-dir", "none", "--barcode-kits", "NO-SUCH-KIT"});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_THAT(refused.err, HasSubstr("barcode_kit_unavailable"));
    EXPECT_FALSE(std::filesystem::exists(file("none")));
}

TEST_F(TamsuCliTest, AMalformedLineIsNamedAndTheOutputStaysPartial)
{
    write_input("good.tsv", 3, 4);
    const auto good = lines_of(slurp(file("good.tsv")));
    std::ofstream(file("bad.tsv")) << good[0] << "\n"
                                   << good[1] << "\n# a comment\n\n"
                                   << good[2] << "\nbroken\t1.0\t1.0\t1,2,x\n"
                                   << good[3] << "\n";
    std::filesystem::create_directories(file("out"));
    std::ofstream(file("out/reads.fastq")) << "@an older complete run\nA\n+\n#\n";

    const auto result = tamsu({"basecall", "bad.tsv", "--output-dir", "out"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, HasSubstr("bad.tsv: line 6: sample 3 "));
    EXPECT_THAT(result.err, HasSubstr("out/reads.fastq.partial"));
    EXPECT_THAT(result.out, Not(HasSubstr("Basecalling complete")));
    EXPECT_EQ(partial_files(file("out")),
              (std::set<std::string>{"reads.fastq.partial", "summary.tsv.partial"}));
}

TEST_F(TamsuCliTest, AnInterruptedRunStopsCleanlyWithPartialOutput)
{
    write_input("reads.tsv", 60, 6);
    // One read at a time, each held back: the run would take over ten seconds. The signal
    // comes late enough for a slow start of the program under load.
    tamsu_test::ServerProcess server(
            {"ipc://" + file("server"), "--max-reads-in-flight", "1", "--call-delay", "250"});
    const auto endpoint = server.wait_for_endpoint();
    ASSERT_FALSE(endpoint.empty());
    const auto result =
            tamsu({"basecall", "reads.tsv", "--server", endpoint, "--output-dir", "out"}, {}, 3000);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, HasSubstr("did not complete: interrupted"));
    EXPECT_THAT(result.out, HasSubstr("Basecalling INCOMPLETE"));
    EXPECT_EQ(partial_files(file("out")),
              (std::set<std::string>{"reads.fastq.partial", "summary.tsv.partial"}));
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST_F(TamsuCliTest, AnUnreadableInputFailsBeforeAnythingIsWritten)
{
    const auto result = tamsu({"basecall", "missing.tsv", "--output-dir", "out"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, HasSubstr("cannot read missing.tsv"));
    EXPECT_FALSE(std::filesystem::exists(file("out")));
}

TEST_F(TamsuCliTest, RefusedConnectionsNameWhatWasRefused)
{
    write_input("reads.tsv", 2, 1);
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
            // The client's own message.
            {{"--config", "no_such_config"}, {"[basecall_config_unavailable]", "no_such_config"}},
            // The server refuses it as a barcode kit, and the client names the (empty) kits.
            {{"--lamp-kit", "NO-SUCH-LAMP"},
             {"[barcode_kit_unavailable] the server has no LAMP kit 'NO-SUCH-LAMP'"}},
            // The client says it cannot convert a "relative" path.
            {{"--index", "/nonexistent/ref.fa"},
             {"failed: the alignment index '/nonexistent/ref.fa' does not exist"}},
    };
    for (const auto& [options, expected] : cases) {
        SCOPED_TRACE(options[0]);
        auto arguments = std::vector<std::string>{"basecall", "reads.tsv", "--output-dir", "out"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const auto result = tamsu(arguments);
        EXPECT_EQ(result.exit_code, 1);
        for (const auto& text : expected) {
            EXPECT_THAT(result.err, HasSubstr(text));
        }
        EXPECT_FALSE(std::filesystem::exists(file("out")));
    }
}

TEST_F(TamsuCliTest, AnUnreachableServerTimesOut)
{
    write_input("reads.tsv", 2, 1);
    // The harness kills the child after its deadline (exit code -1); a clean 1 means the
    // program gave up on its own.
    const auto result =
            tamsu({"basecall", "reads.tsv", "--output-dir", "out", "--server",
                   "ipc://" + file("nobody"), "--timeout", "200", "--reconnect-timeout", "1"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err, HasSubstr("cannot connect to server ipc://"));
    EXPECT_THAT(result.err, HasSubstr("timed_out"));
    EXPECT_FALSE(std::filesystem::exists(file("out")));
}

TEST_F(TamsuCliTest, AnInterruptWhileConnectingStopsAtOnceAfterSayingWhatItWaitsFor)
{
    write_input("reads.tsv", 2, 1);
    // Unanswered, the client's defaults would keep it connecting for about five minutes.
    const auto result = tamsu_test::run_program(
            TAMSU_CLI_PATH,
            {"basecall", "reads.tsv", "--output-dir", "out", "--server", "ipc://" + file("nobody")},
            m_directory.path(), {}, 3000, 60);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_THAT(result.err,
                HasSubstr("connecting to server ipc://" + file("nobody") + ", attempt 1\n"));
    EXPECT_THAT(result.err, HasSubstr("interrupted while connecting to server ipc://"));
    EXPECT_FALSE(std::filesystem::exists(file("out")));
}

TEST_F(TamsuCliTest, QueryAnswersEveryQuestionFromTheEmbeddedServer)
{
    const auto kits = tamsu({"query", "barcode-kits"});
    ASSERT_EQ(kits.exit_code, 0) << kits.err;
    for (const char* kit : {"TOY-BC12", "TOY-BC24-BOTH", "TOY-DUAL"}) {
        EXPECT_THAT(kits.out, HasSubstr(kit));
    }
    const auto lamp = tamsu({"query", "lamp-kits"});
    EXPECT_THAT(lamp.out, HasSubstr("TOY-LAMP  barcodes"));
    EXPECT_THAT(lamp.out, HasSubstr("TOY-LAMP-MINI"));
    EXPECT_THAT(tamsu({"query", "statistics"}).out, HasSubstr("Clients: 0\n"));
    for (const char* what : {"server-info", "internal-state"}) {
        const auto answer = tamsu({"query", what});
        ASSERT_EQ(answer.exit_code, 0) << what << answer.err;
        rapidjson::Document json;
        json.Parse(answer.out.c_str());
        EXPECT_FALSE(json.HasParseError()) << answer.out;
        EXPECT_TRUE(json.IsObject());
    }
}

TEST_F(TamsuCliTest, QueryFailuresNameTheResultCode)
{
    const auto unreachable = tamsu(
            {"query", "statistics", "--server", "ipc://" + file("nobody"), "--timeout", "100"});
    EXPECT_EQ(unreachable.exit_code, 1);
    EXPECT_THAT(unreachable.err, HasSubstr("timed_out"));
    EXPECT_EQ(tamsu({"query", "everything"}).exit_code, 2);
    EXPECT_EQ(tamsu({"query"}).exit_code, 2);
}

TEST_F(TamsuCliTest, HelpOnEveryCommandAndUsageErrorsExitTwo)
{
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--help"},
                                                      {"basecall", "--help"},
                                                      {"simulate", "-h"},
                                                      {"query", "--help"},
                                                      {"keygen", "--help"}}) {
        const auto result = tamsu(arguments);
        EXPECT_EQ(result.exit_code, 0) << arguments[0];
        EXPECT_THAT(result.out, StartsWith("Usage: tamsu")) << arguments[0];
    }
    EXPECT_THAT(tamsu({"basecall", "--help"}).out,
                HasSubstr("read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> samples"));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{},
          {"frobnicate"},
          {"basecall"},
          {"basecall", "in", "--frob"},
          {"simulate", "--count", "many"},
          {"simulate", "--min-length", "9", "--max-length", "3"},
          {"keygen"},
          {"query", "statistics", "--server", "5555", "--curve-keys", "client"},
          {"basecall", "in", "--curve-server-key", "server.public", "--curve-keys", "client"},
          {"query", "statistics", "--timeout", "0"}}) {
        const auto result = tamsu(arguments);
        EXPECT_EQ(result.exit_code, 2) << testing::PrintToString(arguments);
        EXPECT_THAT(result.err, HasSubstr("Usage: tamsu")) << testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace tamsu_cli
