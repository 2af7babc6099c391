#include "server/reference_data.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace reference_server {

std::string AlignmentIndex::sam_header() const
{
    std::string header = "@HD\tVN:1.6\tSO:unsorted\n";
    for (const auto& sequence : sequences) {
        header +=
                "@SQ\tSN:" + sequence.name + "\tLN:" + std::to_string(sequence.bases.size()) + "\n";
    }
    return header;
}

namespace {

std::string strip_line_end(std::string line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    return line;
}

bool is_blank(const std::string& line)
{
    return std::all_of(line.begin(), line.end(),
                       [](unsigned char c) { return std::isspace(c) != 0; });
}

}  // namespace

bool load_fasta(const std::string& path, AlignmentIndex& index, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "Cannot open alignment index file: " + path;
        return false;
    }
    AlignmentIndex result;
    result.path = path;
    std::string line;
    std::size_t line_number = 0;
    bool in_record = false;
    while (std::getline(file, line)) {
        ++line_number;
        line = strip_line_end(line);
        if (is_blank(line)) {
            continue;
        }
        if (line[0] == '>') {
            std::istringstream header(line.substr(1));
            std::string name;
            header >> name;
            if (name.empty()) {
                error = "FASTA record without a name at line " + std::to_string(line_number) +
                        " of " + path;
                return false;
            }
            result.sequences.push_back({name, {}});
            in_record = true;
            continue;
        }
        if (!in_record) {
            error = "Not a FASTA file (no header before line " + std::to_string(line_number) +
                    "): " + path;
            return false;
        }
        for (const unsigned char c : line) {
            if (std::isalpha(c) == 0 && c != '-' && c != '*') {
                error = "Invalid sequence character at line " + std::to_string(line_number) +
                        " of " + path;
                return false;
            }
            result.sequences.back().bases.push_back(static_cast<char>(std::toupper(c)));
        }
    }
    if (file.bad()) {
        error = "Error reading alignment index file: " + path;
        return false;
    }
    // A header without bases names nothing that can be aligned to.
    result.sequences.erase(std::remove_if(result.sequences.begin(), result.sequences.end(),
                                          [](const ReferenceSequence& sequence) {
                                              return sequence.bases.empty();
                                          }),
                           result.sequences.end());
    index = std::move(result);
    return true;
}

bool load_bed(const std::string& path, BedFile& bed, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "Cannot open BED file: " + path;
        return false;
    }
    BedFile result;
    result.path = path;
    std::string line;
    std::size_t line_number = 0;
    while (std::getline(file, line)) {
        ++line_number;
        line = strip_line_end(line);
        if (is_blank(line) || line[0] == '#' || line.rfind("track", 0) == 0 ||
            line.rfind("browser", 0) == 0) {
            continue;
        }
        std::istringstream fields(line);
        BedInterval interval;
        std::string start;
        std::string end;
        fields >> interval.chrom >> start >> end;
        const auto is_number = [](const std::string& text) {
            return !text.empty() && text.size() < 19 &&
                   std::all_of(text.begin(), text.end(),
                               [](unsigned char c) { return std::isdigit(c) != 0; });
        };
        if (interval.chrom.empty() || !is_number(start) || !is_number(end)) {
            error = "Malformed BED line " + std::to_string(line_number) + " of " + path;
            return false;
        }
        interval.start = std::stoll(start);
        interval.end = std::stoll(end);
        if (interval.end < interval.start) {
            error = "BED interval ends before it starts at line " + std::to_string(line_number) +
                    " of " + path;
            return false;
        }
        interval.line = line;
        result.intervals.push_back(std::move(interval));
    }
    if (file.bad()) {
        error = "Error reading BED file: " + path;
        return false;
    }
    bed = std::move(result);
    return true;
}

std::string reverse_complement(const std::string& sequence)
{
    std::string result(sequence.rbegin(), sequence.rend());
    for (auto& base : result) {
        switch (base) {
        case 'A':
            base = 'T';
            break;
        case 'C':
            base = 'G';
            break;
        case 'G':
            base = 'C';
            break;
        case 'T':
            base = 'A';
            break;
        default:
            base = 'N';
        }
    }
    return result;
}

namespace {

constexpr std::size_t k_seed_length = 32;

// Extends an exact match of `query` at `position` of `reference`; returns the matched length.
std::size_t extend(const std::string& reference, std::size_t position, const std::string& query)
{
    std::size_t length = 0;
    while (position + length < reference.size() && length < query.size() &&
           reference[position + length] == query[length]) {
        ++length;
    }
    return length;
}

}  // namespace

std::vector<AlignmentHit> align_exact(const AlignmentIndex& index, const BedFile* bed,
                                      const std::string& read_id, const std::string& sequence,
                                      const std::string& qstring, std::uint32_t num_events)
{
    std::vector<AlignmentHit> hits;
    if (sequence.empty()) {
        return hits;
    }
    const auto seed_length = std::min(k_seed_length, sequence.size());
    const auto reverse = reverse_complement(sequence);
    for (const auto& reference : index.sequences) {
        for (const bool forward : {true, false}) {
            const auto& query = forward ? sequence : reverse;
            const auto position = reference.bases.find(query.substr(0, seed_length));
            if (position == std::string::npos) {
                continue;
            }
            const auto matched = extend(reference.bases, position, query);
            const auto length = static_cast<std::int32_t>(sequence.size());
            AlignmentHit hit;
            hit.genome = reference.name;
            hit.direction = forward ? '+' : '-';
            hit.genome_start = static_cast<std::int32_t>(position);
            hit.genome_end = static_cast<std::int32_t>(position + matched);
            // Strand coordinates are on the read as called.
            hit.strand_start = forward ? 0 : length - static_cast<std::int32_t>(matched);
            hit.strand_end = forward ? static_cast<std::int32_t>(matched) : length;
            hit.num_events = static_cast<std::int32_t>(num_events);
            hit.num_aligned = static_cast<std::int32_t>(matched);
            hit.num_correct = hit.num_aligned;
            hit.coverage = static_cast<float>(matched) / static_cast<float>(sequence.size());
            hit.identity = 1.0f;
            hit.accuracy = 1.0f;
            hit.strand_score = 2 * hit.num_aligned;

            const auto clipped = sequence.size() - matched;
            std::string cigar = std::to_string(matched) + "M";
            if (clipped > 0) {
                cigar += std::to_string(clipped) + "S";
            }
            std::string quals = forward ? qstring : std::string(qstring.rbegin(), qstring.rend());
            if (quals.size() != query.size()) {
                quals = "*";
            }
            hit.sam_record = read_id + "\t" + (forward ? "0" : "16") + "\t" + reference.name +
                             "\t" + std::to_string(position + 1) + "\t60\t" + cigar +
                             "\t*\t0\t0\t" + query + "\t" + quals + "\tNM:i:0";
            if (bed != nullptr) {
                for (const auto& interval : bed->intervals) {
                    if (interval.chrom == reference.name && interval.start < hit.genome_end &&
                        interval.end > hit.genome_start) {
                        if (hit.bed_hits > 0) {
                            hit.bed_lines += "\n";
                        }
                        hit.bed_lines += interval.line;
                        ++hit.bed_hits;
                    }
                }
            }
            hits.push_back(std::move(hit));
            return hits;
        }
    }
    return hits;
}

}  // namespace reference_server
