#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace reference_server {

struct ReferenceSequence {
    std::string name;
    std::string bases;  // upper case
};

// An alignment index: the sequences of a FASTA file.
struct AlignmentIndex {
    std::string path;
    std::vector<ReferenceSequence> sequences;

    // "@HD" line, then one "@SQ\tSN:<name>\tLN:<length>" line per sequence, each ending in "\n".
    std::string sam_header() const;
};

struct BedInterval {
    std::string chrom;
    std::int64_t start = 0;  // zero-based, end exclusive
    std::int64_t end = 0;
    std::string line;  // the line as read
};

struct BedFile {
    std::string path;
    std::vector<BedInterval> intervals;
};

// Reads a FASTA file. Returns false with a reason in `error` when the file cannot be read or is
// not FASTA; a file with no sequences loads with an empty list.
bool load_fasta(const std::string& path, AlignmentIndex& index, std::string& error);

// Reads a BED file (chrom, start, end, then anything); comment, track and browser lines are
// skipped. Returns false with a reason when the file cannot be read or a line is malformed.
bool load_bed(const std::string& path, BedFile& bed, std::string& error);

struct AlignmentHit {
    std::string genome;
    std::int32_t genome_start = 0;
    std::int32_t genome_end = 0;
    std::int32_t strand_start = 0;
    std::int32_t strand_end = 0;
    std::int32_t num_events = 0;
    std::int32_t num_insertions = 0;
    std::int32_t num_deletions = 0;
    std::int32_t num_aligned = 0;
    std::int32_t num_correct = 0;
    float coverage = 0.0f;
    float identity = 0.0f;
    float accuracy = 0.0f;
    std::int32_t strand_score = 0;
    std::string sam_record;
    std::int32_t bed_hits = 0;
    std::string bed_lines;  // the overlapping BED lines, separated by "\n"
    char direction = '+';
};

// Exact-match alignment: a seed of the first min(32, length) bases of the sequence (forward) or
// of its reverse complement is searched in each reference in order, and the first hit is
// extended for as long as the bases agree. Returns no hit, or one.
std::vector<AlignmentHit> align_exact(const AlignmentIndex& index, const BedFile* bed,
                                      const std::string& read_id, const std::string& sequence,
                                      const std::string& qstring, std::uint32_t num_events);

std::string reverse_complement(const std::string& sequence);

}  // namespace reference_server
