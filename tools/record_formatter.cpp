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

std::string or_star(const std::string& text)
{
    return text.empty() ? "*" : text;
}

}  // namespace

std::string RecordFormatter::fastq(const CalledRead& read)
{
    if (!read.called) {
        return {};
    }
    std::string header = "@" + read.read_id;
    header += " length=" + std::to_string(read.sequence.size());
    header += " mean_qscore=" + two_decimals(read.mean_qscore);
    if (!read.barcode_arrangement.empty()) {
        header += " barcode=" + read.barcode_arrangement;
    }
    if (!read.lamp_barcode.empty()) {
        header += " lamp_barcode=" + read.lamp_barcode;
    }
    if (read.aligned) {
        header += " alignment=" + read.alignment_genome + ":" +
                  std::to_string(read.alignment_start) + " direction=" + read.alignment_direction;
    }
    return header + "\n" + read.sequence + "\n+\n" + read.qstring + "\n";
}

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

std::string RecordFormatter::sam_records(const CalledRead& read)
{
    if (!read.called) {
        return {};
    }
    if (read.sam_records.empty()) {
        return read.read_id + "\t4\t*\t0\t0\t*\t*\t0\t0\t" + or_star(read.sequence) + "\t" +
               or_star(read.qstring) + "\n";
    }
    std::string text;
    for (const auto& record : read.sam_records) {
        text += record + "\n";
    }
    return text;
}

}  // namespace tamsu_cli
