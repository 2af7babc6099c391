#pragma once

#include "interfaces/read_holder.h"
#include "vask/data_wrappers/data_table.h"
#include "vask/util/tamsu_export.h"

#include <cstddef>
#include <string>
#include <vector>

namespace interfaces {

// Layout and reading of a read's alignment results: one table record per alignment under the
// `align_results` dataset, plus the SAM text ("alignment_sam_record") and BED text
// ("alignment_bed_lines") in the metadata. Stateless; every operation works on the one read
// it is given.
class TAMSU_EXPORT ReadAlignmentHelper {
public:
    // One alignment's SAM line and the BED lines it hit, without line breaks.
    struct AlignmentSamLine {
        std::string sam_record;
        std::vector<std::string> bed_lines;
    };

    // Declared length of the "Genome" text field, excluding its NUL.
    static constexpr std::size_t GENOME_FIELD_SIZE = 253;

    // The sixteen-field alignment table with `num_alignments` zeroed records of 312 bytes.
    static vask::data_wrappers::DataTable create_alignment_table(std::size_t num_alignments);

    static bool read_holder_contains_alignment_data(const ReadHolder& read);

    // A copy of the read's alignment table. Throws std::runtime_error "Could not find align
    // results in read holder" without the dataset, and the table errors for a bad layout.
    static vask::data_wrappers::DataTable
    create_alignment_table_from_read_holder(const ReadHolder& read);

    // Stores the first alignment's fields under the "alignment_..." metadata keys, replacing
    // existing entries. Throws as create_alignment_table_from_read_holder.
    static void copy_alignment_results_to_metadata(ReadHolder& read);

    // Each alignment's SAM line with its "BedHits" BED lines, in record order; missing lines
    // come back empty. Throws as create_alignment_table_from_read_holder.
    static std::vector<AlignmentSamLine>
    extract_alignment_sam_and_bed_lines_from_read_holder(const ReadHolder& read);
};

}  // namespace interfaces
