#pragma once

#include "interfaces/dataset.h"
#include "vask/data_wrappers/data_view.h"
#include "vask/data_wrappers/metadata.h"
#include "vask/util/tamsu_export.h"

#include <cstdint>
#include <map>
#include <string>

namespace interfaces {

using Datasets = std::map<dataset, vask::data_wrappers::DataView>;

// One read as it travels between host and engine: a host-defined tag, a priority, metadata
// and the bulk datasets. Moved between owners, never copied; not synchronised, only the
// current owner touches it.
class TAMSU_EXPORT ReadHolder {
public:
    // Tag 0, the middle priority 1, no metadata, no datasets.
    ReadHolder();
    // Takes everything from `other`, which is left as after clear().
    ReadHolder(ReadHolder&& other);
    ReadHolder& operator=(ReadHolder&& other);
    ReadHolder(const ReadHolder&) = delete;
    ReadHolder& operator=(const ReadHolder&) = delete;
    virtual ~ReadHolder();

    // Back to the default state; destroys every dataset and the storage it owns.
    void clear();

    std::uint64_t get_read_tag() const { return m_read_tag; }
    void set_read_tag(std::uint64_t tag) { m_read_tag = tag; }

    // 0 (high), 1 (medium) or 2 (low); stored as given.
    std::uint32_t get_priority() const { return m_priority; }
    void set_priority(std::uint32_t priority) { m_priority = priority; }

    vask::data_wrappers::Metadata& get_metadata() { return m_metadata; }
    const vask::data_wrappers::Metadata& get_metadata() const { return m_metadata; }

    Datasets& get_datasets() { return m_datasets; }
    const Datasets& get_datasets() const { return m_datasets; }

    // The metadata value under `name` as text: empty for an absent key, "TRUE"/"FALSE" for
    // bools, integers in decimal, floating point with six decimals and "0" for NaN and
    // infinities, "unsupported_type" for other stored types. Never throws for a bad key.
    std::string get_by_name(const std::string& name) const;

private:
    std::uint64_t m_read_tag = 0;
    std::uint32_t m_priority = 1;
    vask::data_wrappers::Metadata m_metadata;
    Datasets m_datasets;
};

}  // namespace interfaces
