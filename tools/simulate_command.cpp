#include "tools/simulate_command.h"

#include "program_support/cli_options.h"
#include "tools/raw_read_format.h"
#include "tools/raw_read_source.h"
#include "tools/read_simulator.h"
#include "tools/slow5_writer.h"
#include "tools/usage_error.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

namespace tamsu_cli {

namespace {

// Reads longer than this are beyond any real signal and would only exhaust memory.
constexpr unsigned long k_longest = 100000000;

const char* const k_name = "tamsu simulate";

void write_reads(std::ostream& stream, unsigned long count, ReadSimulator& simulator)
{
    for (unsigned long i = 0; i < count && stream; ++i) {
        stream << RawReadFormat::format(simulator.next()) << '\n';
    }
    stream.flush();
}

int write_slow5(const std::string& path, unsigned long count, ReadSimulator& simulator,
                std::ostream& err)
{
    try {
        Slow5Writer writer(path);
        for (unsigned long i = 0; i < count; ++i) {
            writer.write(simulator.next());
        }
        writer.close();
        return 0;
    } catch (const std::runtime_error& error) {
        err << "tamsu simulate: " << error.what() << "\n";
        return 1;
    }
}

// The options of "tamsu simulate" with the help text around them.
struct SimulateOptions {
    unsigned long count = 100;
    unsigned long min_length = 2000;
    std::optional<unsigned long> max_length;  // default: 20000, or min_length when longer
    unsigned long seed = 1;
    std::string output = "-";

    void describe(CLI::App& app)
    {
        using program_support::add_whole_number;
        const auto limit = std::numeric_limits<unsigned long>::max();
        add_whole_number(app, "--count", count, 0, limit, "number of reads (default 100)");
        add_whole_number(app, "--min-length", min_length, 1, k_longest,
                         "fewest samples in a read (default 2000)");
        add_whole_number(app, "--max-length", max_length, 1, k_longest,
                         "most samples in a read (default 20000)");
        add_whole_number(app, "--seed", seed, 0, limit, "random seed (default 1)");
        app.add_option("--output", output,
                       "where to write (default -, standard output); .blow5 and .slow5 files get "
                       "the same reads as the text format")
                ->type_name("FILE|-");
        app.footer(R"(Writes synthetic raw reads.

An output ending in .blow5 is a BLOW5 file (zstd, svb-zd), .slow5 a SLOW5 file, and
anything else has one read per line in the text input format of "tamsu basecall":
  read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> comma-separated int16 samples
The signal is a staircase of levels (350 to 750 DAQ units, held 3 to 14 samples) with noise.
The same options and seed always give the same reads.)");
    }
};

}  // namespace

std::string SimulateCommand::usage()
{
    return program_support::usage_of<SimulateOptions>(k_name);
}

int SimulateCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err)
{
    const auto options = program_support::parse_options<SimulateOptions>(k_name, arguments, out);
    if (!options) {
        return 0;
    }
    const auto max_length = options->max_length.value_or(std::max(20000UL, options->min_length));
    if (options->min_length > max_length) {
        throw UsageError("need --min-length <= --max-length");
    }
    ReadSimulator simulator(options->seed, options->min_length, max_length);
    return write_output(options->output, options->count, simulator, out, err);
}

int SimulateCommand::write_output(const std::string& output, unsigned long count,
                                  ReadSimulator& simulator, std::ostream& out, std::ostream& err)
{
    if (signal_format(output) != SignalFormat::text) {
        return write_slow5(output, count, simulator, err);
    }
    std::ofstream file;
    if (output != "-") {
        file.open(output, std::ios::out | std::ios::trunc);
        if (!file) {
            err << "tamsu simulate: cannot create " << output << ": " << std::strerror(errno)
                << "\n";
            return 1;
        }
    }
    std::ostream& stream = output == "-" ? out : file;
    write_reads(stream, count, simulator);
    if (!stream) {
        err << "tamsu simulate: cannot write " << (output == "-" ? "standard output" : output)
            << "\n";
        return 1;
    }
    return 0;
}

}  // namespace tamsu_cli
