#include "tools/simulate_command.h"

#include "tools/command_line.h"
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

}  // namespace

const char* SimulateCommand::usage()
{
    return R"(Usage: tamsu simulate [options]

Writes synthetic raw reads: to a BLOW5 file (zstd, svb-zd) for an output ending in .blow5, a
SLOW5 file for .slow5, and otherwise one per line in the text input format of "tamsu basecall":
  read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> comma-separated int16 samples
The signal is a staircase of levels (350 to 750 DAQ units, held 3 to 14 samples) with noise.
The same options and seed always give the same reads.

Options:
  --count N          number of reads (default 100)
  --min-length L     fewest samples in a read (default 2000)
  --max-length M     most samples in a read (default 20000)
  --seed S           random seed (default 1)
  --output FILE|-    where to write (default -, standard output; .blow5 and .slow5 files
                     get the same reads as the text format)
)";
}

int SimulateCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err)
{
    CommandLine line({{"count", true},
                      {"min-length", true},
                      {"max-length", true},
                      {"seed", true},
                      {"output", true}},
                     0);
    line.parse(arguments);
    if (line.help_requested()) {
        out << usage();
        return 0;
    }
    const auto limit = std::numeric_limits<unsigned long>::max();
    const auto count = line.number("count", 100, limit);
    const auto min_length = line.number("min-length", 2000, 100000000);
    const auto max_length = line.number("max-length", std::max(20000UL, min_length), 100000000);
    if (min_length == 0 || min_length > max_length) {
        throw UsageError("need 1 <= --min-length <= --max-length");
    }
    ReadSimulator simulator(line.number("seed", 1, limit), min_length, max_length);
    const auto output = line.text("output", "-");
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
