#include "vask/data_wrappers/map_wrapper.h"

#include <cmath>

namespace vask::data_wrappers {

namespace {

template <typename T>
bool exactly_equal(const boost::any& lhs, const boost::any& rhs)
{
    return boost::any_cast<const T&>(lhs) == boost::any_cast<const T&>(rhs);
}

template <typename T>
bool nearly_equal(const boost::any& lhs, const boost::any& rhs)
{
    // A strict less-than: NaN differs from everything, itself included.
    const T tolerance = static_cast<T>(1e-6);
    return std::fabs(boost::any_cast<T>(lhs) - boost::any_cast<T>(rhs)) < tolerance;
}

// Both values are known to hold the same type.
bool values_equal(const boost::any& lhs, const boost::any& rhs)
{
    const std::type_info& type = lhs.type();
    if (type == typeid(float)) {
        return nearly_equal<float>(lhs, rhs);
    }
    if (type == typeid(double)) {
        return nearly_equal<double>(lhs, rhs);
    }
    if (type == typeid(std::string)) {
        return exactly_equal<std::string>(lhs, rhs);
    }
    if (type == typeid(bool)) {
        return exactly_equal<bool>(lhs, rhs);
    }
    if (type == typeid(signed char)) {
        return exactly_equal<signed char>(lhs, rhs);
    }
    if (type == typeid(unsigned char)) {
        return exactly_equal<unsigned char>(lhs, rhs);
    }
    if (type == typeid(short)) {
        return exactly_equal<short>(lhs, rhs);
    }
    if (type == typeid(unsigned short)) {
        return exactly_equal<unsigned short>(lhs, rhs);
    }
    if (type == typeid(int)) {
        return exactly_equal<int>(lhs, rhs);
    }
    if (type == typeid(unsigned int)) {
        return exactly_equal<unsigned int>(lhs, rhs);
    }
    if (type == typeid(long)) {
        return exactly_equal<long>(lhs, rhs);
    }
    if (type == typeid(unsigned long)) {
        return exactly_equal<unsigned long>(lhs, rhs);
    }
    return false;
}

}  // namespace

MapWrapper::MapWrapper()
        : m_map(std::make_unique<Map>())
{
}

MapWrapper::MapWrapper(const MapWrapper& other)
        : m_map(std::make_unique<Map>(*other.m_map))
{
}

MapWrapper& MapWrapper::operator=(const MapWrapper& other)
{
    if (this != &other) {
        m_map = std::make_unique<Map>(*other.m_map);
    }
    return *this;
}

MapWrapper::MapWrapper(MapWrapper&& other)
        : m_map(std::exchange(other.m_map, std::make_unique<Map>()))
{
}

MapWrapper& MapWrapper::operator=(MapWrapper&& other)
{
    if (this != &other) {
        // Allocate first so that a failure leaves both maps as they were.
        auto replacement = std::make_unique<Map>();
        m_map = std::exchange(other.m_map, std::move(replacement));
    }
    return *this;
}

MapWrapper::~MapWrapper() = default;

void MapWrapper::swap(MapWrapper& other) noexcept
{
    m_map.swap(other.m_map);
}

std::size_t MapWrapper::size() const
{
    return m_map->size();
}

bool MapWrapper::empty() const
{
    return m_map->empty();
}

void MapWrapper::clear()
{
    m_map->clear();
}

bool MapWrapper::exists(const std::string& key) const
{
    return m_map->count(key) != 0;
}

const std::type_info& MapWrapper::check_type(const std::string& key) const
{
    const auto entry = m_map->find(key);
    if (entry == m_map->end()) {
        return typeid(void);
    }
    return entry->second.type();
}

void MapWrapper::insert(const std::string& key, const std::string& value)
{
    (*m_map)[key] = boost::any(value);
}

void MapWrapper::insert(const std::string& key, const char* value)
{
    (*m_map)[key] = boost::any(std::string(value));
}

const boost::any* MapWrapper::get_any(const std::string& key) const
{
    const auto entry = m_map->find(key);
    return entry == m_map->end() ? nullptr : &entry->second;
}

void MapWrapper::remove(const std::string& key)
{
    if (m_map->erase(key) == 0) {
        throw std::out_of_range("Key '" + key + "' not found.");
    }
}

std::list<MapWrapper::Key> MapWrapper::get_keys() const
{
    std::list<Key> keys;
    for (const auto& [name, value] : *m_map) {
        keys.push_back(Key{name, std::type_index(value.type())});
    }
    return keys;
}

void MapWrapper::merge(const MapWrapper& other)
{
    if (this == &other) {
        return;
    }
    for (const auto& entry : *other.m_map) {
        m_map->insert(entry);  // keeps an existing entry
    }
}

MapWrapper::Schema MapWrapper::validate(const Schema& schema, bool remove_invalid)
{
    Schema invalid;
    for (const Key& key : get_keys()) {
        const auto expected = schema.find(key.name);
        if (expected == schema.end() || expected->second != key.type) {
            invalid.emplace(key.name, key.type);
        }
    }
    if (remove_invalid) {
        for (const auto& entry : invalid) {
            m_map->erase(entry.first);
        }
    }
    return invalid;
}

bool MapWrapper::operator==(const MapWrapper& other) const
{
    if (m_map->size() != other.m_map->size()) {
        return false;
    }
    for (const auto& [key, value] : *m_map) {
        const auto match = other.m_map->find(key);
        if (match == other.m_map->end() || match->second.type() != value.type() ||
            !values_equal(value, match->second)) {
            return false;
        }
    }
    return true;
}

}  // namespace vask::data_wrappers
