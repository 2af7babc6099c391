#include "tools/basecall_command.h"

#include "tools/basecall_options.h"
#include "tools/basecall_run.h"
#include "tools/command_line.h"

#include <boost/log/core/core.hpp>

#include <cstdint>

namespace tamsu_cli {

const char* BasecallCommand::usage()
{
    return R"(Usage: tamsu basecall INPUT... [options]

Basecalls the raw reads in each INPUT (a .blow5 or .slow5 file, a text file in the format of
"tamsu simulate", - for text on standard input, or a directory: its .blow5, .slow5 and .tsv
files by name) through a basecall server and writes the called reads to the output directory:
  reads.fastq   every called read; the header line is "@<read id>" followed by key=value
                fields: length, mean_qscore, barcode and lamp_barcode (with kits),
                alignment=<genome>:<zero-based start> and direction (with an index)
  summary.tsv   one row per read, with a header row; reads too short to call (fewer than
                20 model strides) have the status not_called and no sequence; the last
                column names the input file
  reads.sam     with --index: the index's SAM header, then each called read's records
                (unmapped reads as flag 4)
Files are written as <name>.partial and renamed only when every read came back; a run that
fails leaves the partial files and exits with status 1.

A text INPUT has one read per line, four tab-separated fields:
  read id <TAB> DAQ offset <TAB> DAQ scaling <TAB> samples
where samples are comma-separated integers from -32768 to 32767 (at least one). Blank lines
and lines starting with # are ignored. "tamsu simulate" writes such files. Read ids must not be
empty or hold control characters; ids that occur more than once are counted and named.

Input:
  --recursive                  take input files from the subdirectories of a directory too

Server and run:
  --server ADDRESS             a port, HOST:PORT or ipc://PATH; without it a reference
                               server runs inside this process on a private ipc:// endpoint
  --config NAME                basecalling configuration (default toy_flipflop_fast)
  --output-dir DIR             where the files go (default: the current directory)
  --name NAME                  the name the server shows for this client (default tamsu)
  --priority high|medium|low   priority of the reads
  --timeout MS                 wait for each server reply, at least 1 (client default 2000)
  --connection-timeout MS      how long the server keeps a quiet client (default 15000)
  --file-load-timeout S        time the server may take to load files (default 30)
  --reconnect-timeout S        how long to keep reconnecting to a lost server (default 300)
  --block-size N               block length in model strides, at most 4294967295
                               (default 50000)
  --max-reads-queued N         reads waiting to be sent before input waits (default 20)
  --moves                      ask for moves and trace
  --state-data                 ask for state data
  --verbose                    let the library's log records through to standard error

Transport security (with --server; see "tamsu keygen"):
  --curve-server-key FILE      connect with CURVE: FILE holds the server's public key
  --curve-keys PREFIX          this client's key pair, PREFIX.public and PREFIX.secret

Barcoding:
  --barcode-kits "KIT ..."     barcode kits, separated by blanks
  --require-barcodes-both-ends
  --min-score-front SCORE      also the rear score unless --min-score-rear is given
  --min-score-rear SCORE
  --min-score-masks SCORE
  --detect-mid-strand-barcodes
  --min-score-mid SCORE
  --trim-barcodes
  --lamp-kit KIT
  --min-score-lamp-barcodes SCORE
  --min-score-lamp-masks SCORE
  --min-score-lamp-targets SCORE
  --additional-context-bases N
  --min-length-lamp-contexts N
  --min-length-lamp-targets N
  --detect-mid-strand-adapter

Alignment:
  --index FILE                 FASTA file to align the called reads against; adds reads.sam
  --alignment-type TYPE        (default auto)
  --bed FILE                   BED file of regions of interest

Progress (reads done, reads per second) goes to standard error when it is a terminal; a
summary goes to standard output at the end.
)";
}

int BasecallCommand::run(const std::vector<std::string>& arguments, std::ostream& out,
                         std::ostream& err)
{
    CommandLine line(BasecallOptions::command_line_options(), SIZE_MAX);
    line.parse(arguments);
    if (line.help_requested()) {
        out << usage();
        return 0;
    }
    auto options = BasecallOptions::from_command_line(line);
    boost::log::core::get()->set_logging_enabled(options.verbose);
    return BasecallRun(std::move(options), out, err).run();
}

}  // namespace tamsu_cli
