#pragma once

#include "interfaces/read_holder.h"
#include "vask/util/tamsu_export.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tamsu {

// A read as the host builds it for a client and gets it back called: the raw signal and
// metadata going in, the called sequence, qualities and every other result coming out. Owns its
// data; move-only. Not synchronised: one thread uses a read at a time.
class TAMSU_EXPORT Read {
public:
    enum Priority : std::int32_t {
        INVALID_PRIORITY = -1,
        HIGH_PRIORITY = 0,
        MEDIUM_PRIORITY = 1,
        LOW_PRIORITY = 2,
    };

    // One alignment's SAM line and the BED lines it hit.
    struct AlignmentSamLine {
        std::string sam_record;
        std::vector<std::string> bed_lines;
    };

    // Tag 0, medium priority, no metadata, no datasets.
    Read();
    // The moved-from read owns nothing: it may only be destroyed or assigned to.
    Read(Read&& other) noexcept;
    Read& operator=(Read&& other) noexcept;
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;
    ~Read();

    // A host-defined tag carried with the read. A client needs tags that fit in 32 bits and are
    // unique among its reads in flight.
    unsigned long get_read_tag() const;
    void set_read_tag(unsigned long tag);

    // INVALID_PRIORITY when the stored value is not one of the three priorities.
    Priority get_priority() const;
    // INVALID_PRIORITY stores the medium priority; other values outside the enumeration are
    // ignored. A client overwrites this with its own priority when the read is passed.
    void set_priority(Priority priority);

    // The read's metadata: "read_id", "daq_offset" and "daq_scaling" going in, results coming
    // out.
    vask::data_wrappers::Metadata& get_metadata();
    const vask::data_wrappers::Metadata& get_metadata() const;
    // The read's datasets: raw_data (int16 samples) going in, results coming out.
    std::map<interfaces::dataset, vask::data_wrappers::DataView>& get_datasets();
    const std::map<interfaces::dataset, vask::data_wrappers::DataView>& get_datasets() const;

    interfaces::ReadHolder& get_readholder();
    const interfaces::ReadHolder& get_readholder() const;
    // Takes over the content of `holder`, which is left cleared.
    void set_readholder(interfaces::ReadHolder& holder);
    // Back to the state of a new read.
    void clear();

    // A metadata value as text (empty when absent).
    std::string get_by_name(const std::string& name) const;

    bool has_alignment_data() const;
    // Each alignment's SAM line and BED lines, in order. Throws std::runtime_error when the
    // read has no alignment results.
    std::vector<AlignmentSamLine> extract_alignment_sam_and_bed_lines() const;

private:
    std::unique_ptr<interfaces::ReadHolder> m_holder;
};

// The priority's name ("HIGH_PRIORITY"), or "invalid_priority_value". Never throws.
TAMSU_EXPORT std::string to_string(Read::Priority priority);

}  // namespace tamsu
