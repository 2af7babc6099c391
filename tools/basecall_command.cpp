#include "tools/basecall_command.h"

#include "program_support/cli_options.h"
#include "tools/basecall_options.h"
#include "tools/basecall_run.h"

#include <boost/log/core/core.hpp>

#include <cstdint>

namespace tamsu_cli {

namespace {

const char* const k_name = "tamsu basecall";

// The options of "tamsu basecall" with the help text around them.
struct BasecallCommandLine {
    BasecallOptions options;

    void describe(CLI::App& app)
    {
        options.add_to(app);
        app.footer(R"(Basecalls raw reads through a basecall server.

INPUT (several may be given) is a .blow5 or .slow5 file, a text file in the format of
"tamsu simulate", - for text on standard input, or a directory: its .blow5, .slow5 and .tsv
files by name (with --recursive, those of its subdirectories too). A text file has one read
per line, four tab-separated fields:
  read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> samples
where samples are comma-separated integers from -32768 to 32767 (at least one). Blank lines
and lines starting with # are ignored. Read ids must not be empty or hold control
characters; ids that occur more than once are counted and named.

The called reads go to the output directory:
  reads.bam     every called read as an unaligned record (flag 4), or with --index the
                server's alignment records; results as tags (see the README): RG, qs (mean
                quality), bk/bc (barcode kit and arrangement), la/lt (LAMP barcode and
                target), MM/ML (base modifications), mv/tr (moves and trace, with --moves)
  summary.tsv   one row per read, with a header row; reads too short to call (fewer than
                20 model strides) have the status not_called and no sequence; the last
                column names the input file
Files are written as <name>.partial and renamed only when every read came back; a run that
fails leaves the partial files and exits with status 1. Files of an earlier run stay until
then; a run that completes removes those of them it did not write (reads.bam, reads.sam,
reads.fastq, summary.tsv). An INPUT that is one of these files is refused. Progress (reads done, reads per
second) goes to standard error when it is a terminal; a summary goes to standard output at
the end.

Until it completes, a run notes in DIR/resume.journal its settings and how far its partial
files are whole. With --resume, a run with the same inputs and output-shaping options goes
on from there after an interruption (a kill, a power cut, lost servers): reads written are
not sent again. A run with other settings is refused, naming the first difference.)");
    }
};

}  // namespace

std::string BasecallCommand::usage()
{
    return program_support::usage_of<BasecallCommandLine>(k_name);
}

int BasecallCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err)
{
    auto line = program_support::parse_options<BasecallCommandLine>(k_name, arguments, out);
    if (!line) {
        return 0;
    }
    auto& options = line->options;
    options.check();
    options.command_line = "tamsu basecall";
    for (const auto& argument : arguments) {
        options.command_line += " " + argument;
    }
    boost::log::core::get()->set_logging_enabled(options.verbose);
    return BasecallRun(std::move(options), out, err).run();
}

}  // namespace tamsu_cli
