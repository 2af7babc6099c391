#include "tools/record_formatter.h"

#include <cstdio>

namespace tamsu_cli {

namespace {

std::string two_decimals(float value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%.2f", static_cast<double>(value));
    return text;
}

}  // namespace

std::string RecordFormatter::summary_header()
{
    return "read_id\tstatus\tsamples\tsequence_length\tmean_qscore\tbarcode_kit\t"
           "barcode_arrangement\tlamp_barcode\tlamp_target\talignment_genome\t"
           "alignment_genome_start\talignment_genome_end\talignment_direction\tsource_file\n";
}

std::string RecordFormatter::summary_row(const CalledRead& read)
{
    std::string row = read.read_id + "\t" + (read.called ? "called" : "not_called") + "\t" +
                      std::to_string(read.samples) + "\t";
    if (!read.called) {
        return row + "0\t\t\t\t\t\t\t\t\t\t" + read.source_file + "\n";
    }
    row += std::to_string(read.sequence.size()) + "\t" + two_decimals(read.mean_qscore) + "\t" +
           read.barcode_kit + "\t" + read.barcode_arrangement + "\t" + read.lamp_barcode + "\t" +
           read.lamp_target + "\t";
    if (read.aligned) {
        row += read.alignment_genome + "\t" + std::to_string(read.alignment_start) + "\t" +
               std::to_string(read.alignment_end) + "\t" + read.alignment_direction;
    } else {
        row += "\t\t\t";
    }
    return row + "\t" + read.source_file + "\n";
}

}  // namespace tamsu_cli
