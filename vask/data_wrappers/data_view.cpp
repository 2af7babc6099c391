#include "vask/data_wrappers/data_view.h"

#include <cstring>

namespace vask::data_wrappers {

DataView::OwnerBase::~OwnerBase() = default;

DataView::DataView() = default;

DataView::DataView(std::string& text, bool take)
{
    if (take) {
        auto storage = std::make_unique<Owner<std::string>>(std::move(text));
        // A moved-from string is unspecified; the caller is promised an empty one.
        text.clear();
        object = &storage->get();
        owner = std::move(storage);
    } else {
        object = &text;
    }
    data = object->c_str();
    type = DataSetType::string;
    element_size = object->size() + 1;
    element_count = 1;
}

DataView::DataView(DataTable&& table)
{
    auto storage = std::make_unique<Owner<DataTable>>(std::move(table));
    const DataTable& owned = storage->get();
    data = owned.data.empty() ? nullptr : owned.data.data();
    type = DataSetType::table;
    element_size = owned.record_size;
    element_count = owned.num_records;
    fields = owned.fields;
    owner = std::move(storage);
}

DataView::DataView(DataView&& other)
        : data(other.data)
        , object(other.object)
        , type(other.type)
        , element_size(other.element_size)
        , element_count(other.element_count)
        , rows(other.rows)
        , columns(other.columns)
        , fields(other.fields)
        , owner(std::move(other.owner))
        , metadata(std::move(other.metadata))
{
}

DataView& DataView::operator=(DataView&& other)
{
    if (this != &other) {
        clear();
        data = other.data;
        object = other.object;
        type = other.type;
        element_size = other.element_size;
        element_count = other.element_count;
        rows = other.rows;
        columns = other.columns;
        fields = other.fields;
        owner = std::move(other.owner);
        metadata = std::move(other.metadata);
    }
    return *this;
}

DataView::~DataView() = default;

void DataView::clear()
{
    data = nullptr;
    object = nullptr;
    type = DataSetType::none;
    element_size = 0;
    element_count = 0;
    rows = 0;
    columns = 0;
    fields.clear();
    owner.reset();
    metadata.clear();
}

const std::string& DataView::get_string() const
{
    if (type != DataSetType::string || object == nullptr) {
        throw std::runtime_error("Invalid array type requested.");
    }
    return *object;
}

DataTable DataView::to_table() const
{
    DataTable table;
    for (const Field& field : fields) {
        table.add_field(field.name, field.type, field.size);
    }
    table.resize(element_count);
    // Guards the copy below against a field list that describes more bytes than the view.
    if (element_count > 0 && (table.record_size != element_size || data == nullptr)) {
        throw std::runtime_error("Table view does not match its field list.");
    }
    if (!table.data.empty()) {
        std::memcpy(table.data.data(), data, table.data.size());
    }
    return table;
}

}  // namespace vask::data_wrappers
