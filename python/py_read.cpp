#include "python/py_read.h"

#include "python/interpreter_alive.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <typeindex>
#include <vector>

namespace py = pybind11;

namespace tamsu_python {
namespace {

using vask::data_wrappers::DataSetType;
using vask::data_wrappers::DataView;

// Holds a Python buffer export, so the exporter can neither free nor resize the memory while
// the library may still read it. The library may drop it on any thread.
class PythonBufferOwner final : public DataView::OwnerBase {
public:
    PythonBufferOwner() = default;
    PythonBufferOwner(const PythonBufferOwner&) = delete;
    PythonBufferOwner& operator=(const PythonBufferOwner&) = delete;
    ~PythonBufferOwner() override
    {
        if (m_buffer.obj == nullptr || !interpreter_alive()) {
            return;
        }
        py::gil_scoped_acquire gil;
        PyBuffer_Release(&m_buffer);
    }
    Py_buffer* buffer() { return &m_buffer; }

private:
    Py_buffer m_buffer{};
};

bool is_int16_format(const char* format)
{
    const std::string text = format == nullptr ? "B" : format;
    return text == "h" || text == "<h" || text == "=h" || text == "@h";
}

// A view of `signal`'s samples that owns the buffer export.
DataView signal_view(const py::object& signal)
{
    auto owner = std::make_unique<PythonBufferOwner>();
    if (PyObject_GetBuffer(signal.ptr(), owner->buffer(), PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
        PyErr_Clear();
        throw py::type_error("signal must be a buffer of int16 samples");
    }
    const Py_buffer& buffer = *owner->buffer();
    if (!is_int16_format(buffer.format) || buffer.itemsize != 2) {
        throw py::type_error(std::string("signal must hold int16 samples, not format '") +
                             (buffer.format == nullptr ? "B" : buffer.format) + "'");
    }
    if (buffer.ndim != 1 || PyBuffer_IsContiguous(&buffer, 'C') == 0) {
        throw py::value_error("signal must be one contiguous dimension of samples");
    }
    DataView view(static_cast<const std::int16_t*>(buffer.buf),
                  static_cast<std::size_t>(buffer.shape[0]));
    view.owner = std::move(owner);
    return view;
}

py::object metadata_value(const boost::any& value)
{
    using Convert = std::function<py::object(const boost::any&)>;
    const auto as = [](auto sample) -> Convert {
        using T = decltype(sample);
        return [](const boost::any& any) { return py::cast(boost::any_cast<T>(any)); };
    };
    static const std::map<std::type_index, Convert> converters = {
            {typeid(bool), as(bool{})},
            {typeid(std::int8_t), as(std::int8_t{})},
            {typeid(std::int16_t), as(std::int16_t{})},
            {typeid(std::int32_t), as(std::int32_t{})},
            {typeid(std::int64_t), as(std::int64_t{})},
            {typeid(std::uint8_t), as(std::uint8_t{})},
            {typeid(std::uint16_t), as(std::uint16_t{})},
            {typeid(std::uint32_t), as(std::uint32_t{})},
            {typeid(std::uint64_t), as(std::uint64_t{})},
            {typeid(float), as(float{})},
            {typeid(double), as(double{})},
            {typeid(std::string), as(std::string{})},
    };
    const auto converter = converters.find(value.type());
    return converter == converters.end() ? py::none() : converter->second(value);
}

// The base object of the arrays over a read's memory: keeps the read alive and tells it that
// arrays still look at its memory.
struct ArrayKeeper {
    py::object read;
    std::shared_ptr<PyRead::ArrayToken> token;
};

py::dtype numpy_type(DataSetType type)
{
    static const std::map<DataSetType, const char*> formats = {
            {DataSetType::int8, "i1"},    {DataSetType::int16, "i2"},  {DataSetType::int32, "i4"},
            {DataSetType::int64, "i8"},   {DataSetType::uint8, "u1"},  {DataSetType::uint16, "u2"},
            {DataSetType::uint32, "u4"},  {DataSetType::uint64, "u8"}, {DataSetType::float32, "f4"},
            {DataSetType::float64, "f8"},
    };
    return py::dtype(formats.at(type));
}

}  // namespace

PyRead::PyRead(const std::string& read_id, const py::object& signal, float offset, float scaling,
               std::optional<unsigned long> tag)
{
    auto view = signal_view(signal);
    auto& metadata = m_read.get_metadata();
    metadata.insert("read_id", read_id);
    metadata.insert("daq_offset", offset);
    metadata.insert("daq_scaling", scaling);
    m_read.get_datasets().emplace(interfaces::dataset::raw_data, std::move(view));
    if (tag) {
        set_tag(*tag);
    }
}

PyRead::PyRead(tamsu::Read&& read)
        : m_read(std::move(read))
        , m_has_tag(true)
{
}

void PyRead::set_tag(unsigned long tag)
{
    m_read.set_read_tag(tag);
    m_has_tag = true;
}

std::string PyRead::metadata_text(const std::string& name) const
{
    return m_read.get_by_name(name);
}

std::string PyRead::dataset_text(interfaces::dataset slot) const
{
    const auto& datasets = m_read.get_datasets();
    const auto found = datasets.find(slot);
    if (found == datasets.end() || found->second.type != DataSetType::string) {
        return {};
    }
    return found->second.get_string();
}

py::dict PyRead::metadata() const
{
    return metadata_dict(m_read.get_metadata());
}

py::dict PyRead::metadata_dict(const vask::data_wrappers::Metadata& metadata)
{
    py::dict result;
    for (const auto& key : metadata.get_keys()) {
        result[py::str(key.name)] = metadata_value(*metadata.get_any(key.name));
    }
    return result;
}

py::dict PyRead::datasets(const py::object& self)
{
    const auto& owner = self.cast<const PyRead&>();
    const auto& read = owner.m_read;
    const py::object keeper = py::cast(ArrayKeeper{self, owner.m_array_token});
    py::dict result;
    for (const auto& [slot, view] : read.get_datasets()) {
        if (!vask::data_wrappers::is_fixed_width(view.type)) {
            continue;  // text and tables are offered through their own properties
        }
        std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(view.element_count)};
        if (view.rows != 0) {
            shape = {static_cast<py::ssize_t>(view.rows), static_cast<py::ssize_t>(view.columns)};
        }
        py::array array(numpy_type(view.type), shape, view.data, keeper);
        array.attr("flags").attr("writeable") = false;
        result[py::str(interfaces::to_string(slot))] = array;
    }
    return result;
}

void PyRead::check_no_arrays() const
{
    if (m_array_token.use_count() > 1) {
        throw py::buffer_error("arrays from this read's datasets are still alive; drop them "
                               "before passing the read");
    }
}

void PyRead::bind(py::module_& module)
{
    py::class_<ArrayKeeper>(module, "_ArrayKeeper").def_readonly("read", &ArrayKeeper::read);
    py::class_<PyRead>(module, "Read",
                       "A raw read to pass to a client, or a called read it handed back.")
            .def(py::init<const std::string&, const py::object&, float, float,
                          std::optional<unsigned long>>(),
                 py::arg("read_id"), py::arg("signal"), py::arg("offset"), py::arg("scaling"),
                 py::arg("tag") = py::none())
            .def_property_readonly("read_id",
                                   [](const PyRead& read) { return read.metadata_text("read_id"); })
            .def_property_readonly("tag", [](PyRead& read) { return read.read().get_read_tag(); })
            .def_property_readonly("sequence",
                                   [](const PyRead& read) {
                                       return read.dataset_text(interfaces::dataset::sequence);
                                   })
            .def_property_readonly("qstring",
                                   [](const PyRead& read) {
                                       return read.dataset_text(interfaces::dataset::qstring);
                                   })
            .def_property_readonly("metadata", &PyRead::metadata)
            .def_property_readonly("datasets", &PyRead::datasets);
}

}  // namespace tamsu_python
