#pragma once

#include "vask/util/tamsu_export.h"

#include <boost/any.hpp>

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <utility>

namespace vask::data_wrappers {

// An ordered map from text keys to type-erased values. A value keeps the exact static type it
// was stored with: an `int` is never readable as `long`, and nothing converts between types.
// Meant for the twelve scalar and text types (bool, the eight integer widths, float, double,
// std::string); other types can be held but compare unequal and do not format.
// Not synchronised: one thread at a time.
class TAMSU_EXPORT MapWrapper {
public:
    struct Key {
        std::string name;
        std::type_index type;
    };
    using Schema = std::map<std::string, std::type_index>;

    MapWrapper();
    // Copies every value.
    MapWrapper(const MapWrapper& other);
    MapWrapper& operator=(const MapWrapper& other);
    // Takes over the other map's entries; the other is left empty and usable.
    MapWrapper(MapWrapper&& other);
    MapWrapper& operator=(MapWrapper&& other);
    ~MapWrapper();

    void swap(MapWrapper& other) noexcept;

    std::size_t size() const;
    bool empty() const;
    void clear();
    bool exists(const std::string& key) const;
    // typeid(void) when the key is absent.
    const std::type_info& check_type(const std::string& key) const;

    // Every storing operation replaces both value and type of an existing entry.
    void insert(const std::string& key, const std::string& value);
    // Stores a string literal as std::string rather than as a character pointer.
    void insert(const std::string& key, const char* value);
    template <typename T>
    void insert(const std::string& key, const T& value)
    {
        (*m_map)[key] = boost::any(value);
    }
    template <typename T>
    void emplace(const std::string& key, T&& value)
    {
        using Decayed = std::decay_t<T>;
        using Stored = std::conditional_t<std::is_same_v<Decayed, const char*> ||
                                                  std::is_same_v<Decayed, char*>,
                                          std::string, Decayed>;
        (*m_map)[key] = boost::any(Stored(std::forward<T>(value)));
    }

    // True with `out` at the stored value when the key holds exactly T; the address stays
    // valid until the entry is replaced or removed. A key of another type sets `out` to null;
    // an absent key leaves `out` alone. Both return false.
    template <typename T>
    bool extract(const std::string& key, T*& out) const
    {
        const auto entry = m_map->find(key);
        if (entry == m_map->end()) {
            return false;
        }
        out = boost::any_cast<T>(&entry->second);
        return out != nullptr;
    }

    // Throws std::out_of_range when the key is absent or holds another type.
    template <typename T>
    T get_value(const std::string& key) const
    {
        T* value = nullptr;
        if (!extract(key, value)) {
            throw std::out_of_range("Could not find key '" + key + "' in map.");
        }
        return *value;
    }

    // The type-erased value under the key, or null when absent; valid as for extract.
    const boost::any* get_any(const std::string& key) const;

    // Throws std::out_of_range when the key is absent.
    void remove(const std::string& key);

    // Ascending key order.
    std::list<Key> get_keys() const;

    // Adds deep copies of the other map's entries whose keys are missing here.
    void merge(const MapWrapper& other);

    // Entries whose key is not in the schema or whose type differs from the schema's, with
    // their stored types; optionally removes them. Schema keys missing here are not reported.
    Schema validate(const Schema& schema, bool remove_invalid);

    // Same keys with identically typed values; float and double values compare equal within
    // an absolute difference below 1e-6 (so NaN never does).
    bool operator==(const MapWrapper& other) const;
    bool operator!=(const MapWrapper& other) const { return !(*this == other); }

private:
    using Map = std::map<std::string, boost::any>;
    std::unique_ptr<Map> m_map;  // never null
};

}  // namespace vask::data_wrappers
