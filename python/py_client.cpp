#include "python/py_client.h"

#include "python/python_callable.h"
#include "python/tamsu_error.h"

#include <pybind11/stl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace tamsu_python {
namespace {

using Parameters = std::map<std::string, py::object>;
// Applies a value (checked and converted under the GIL, applied without it); `current` holds
// the other parameters as last set.
using Setter = std::function<tamsu::Result(tamsu::TamsuClient&, const py::handle& value,
                                           const Parameters& current)>;

template <typename Argument>
Setter setter(tamsu::Result (tamsu::TamsuClient::*method)(Argument))
{
    return [method](tamsu::TamsuClient& client, const py::handle& value, const Parameters&) {
        auto argument = value.cast<std::decay_t<Argument>>();
        py::gil_scoped_release release;
        return (client.*method)(std::move(argument));
    };
}

// The index file and the alignment type are set together; either alone keeps the other.
tamsu::Result set_alignment(tamsu::TamsuClient& client, const Parameters& current,
                            const std::string& changed, const py::handle& value)
{
    const auto text = [&](const std::string& name, const char* otherwise) {
        if (name == changed) {
            return value.cast<std::string>();
        }
        const auto found = current.find(name);
        return found == current.end() ? std::string(otherwise) : found->second.cast<std::string>();
    };
    const auto index_file = text("alignment_index_file", "");
    const auto alignment_type = text("alignment_type", "auto");
    py::gil_scoped_release release;
    return client.set_alignment_index_file(index_file, alignment_type);
}

Setter alignment_setter(const std::string& name)
{
    return [name](tamsu::TamsuClient& client, const py::handle& value, const Parameters& current) {
        return set_alignment(client, current, name, value);
    };
}

// A Python callable (or None) called as handler(old_status, new_status, error_message) on the
// library's notifier thread.
tamsu::Result set_state_change_handler(tamsu::TamsuClient& client, const py::handle& value,
                                       const Parameters&)
{
    tamsu::TamsuClient::StateChangeHandler handler;
    if (!value.is_none()) {
        if (!PyCallable_Check(value.ptr())) {
            throw py::cast_error("not callable");
        }
        handler = PythonCallable(py::reinterpret_borrow<py::object>(value));
    }
    py::gil_scoped_release release;
    return client.set_state_change_handler(std::move(handler));
}

// Every parameter a Python caller may set, by its keyword.
const std::vector<std::pair<std::string, Setter>>& setters()
{
    using C = tamsu::TamsuClient;
    static const std::vector<std::pair<std::string, Setter>> table = {
            {"name", setter(&C::set_name)},
            {"priority", setter(&C::set_priority)},
            {"connection_timeout_ms", setter(&C::set_connection_timeout_ms)},
            {"timeout_ms", setter(&C::set_timeout)},
            {"server_file_load_timeout_s", setter(&C::set_server_file_load_timeout)},
            {"default_pass_read_timeout_ms", setter(&C::set_default_pass_read_timeout_ms)},
            {"reconnect_timeout_s", setter(&C::set_reconnect_timeout)},
            {"block_size", setter(&C::set_block_size)},
            {"max_reads_queued", setter(&C::set_max_reads_queued)},
            {"move_and_trace_enabled", setter(&C::set_move_and_trace_enabled)},
            {"state_data_enabled", setter(&C::set_state_data_enabled)},
            {"barcode_kits", setter(&C::set_barcode_kits)},
            {"alignment_index_file", alignment_setter("alignment_index_file")},
            {"alignment_type", alignment_setter("alignment_type")},
            {"bed_file", setter(&C::set_bed_file)},
            {"require_barcodes_both_ends", setter(&C::set_require_barcodes_both_ends)},
            {"min_score_front_barcodes", setter(&C::set_min_score_front_barcodes)},
            {"min_score_rear_barcodes", setter(&C::set_min_score_rear_barcodes)},
            {"min_score_masks", setter(&C::set_min_score_masks)},
            {"detect_mid_strand_barcodes", setter(&C::set_detect_mid_strand_barcodes)},
            {"min_score_mid_barcodes", setter(&C::set_min_score_mid_barcodes)},
            {"barcode_trimming_enabled", setter(&C::set_barcode_trimming_enabled)},
            {"lamp_kit", setter(&C::set_lamp_kit)},
            {"min_score_lamp_barcodes", setter(&C::set_min_score_lamp_barcodes)},
            {"min_score_lamp_masks", setter(&C::set_min_score_lamp_masks)},
            {"min_score_lamp_targets", setter(&C::set_min_score_lamp_targets)},
            {"additional_context_bases", setter(&C::set_additional_context_bases)},
            {"min_length_lamp_contexts", setter(&C::set_min_length_lamp_contexts)},
            {"min_length_lamp_targets", setter(&C::set_min_length_lamp_targets)},
            {"detect_mid_strand_adapter", setter(&C::set_detect_mid_strand_adapter)},
            {"transport_security", setter(&C::set_transport_security)},
            {"state_change_handler", &set_state_change_handler},
    };
    return table;
}

const Setter& find_setter(const std::string& name)
{
    for (const auto& [keyword, setter] : setters()) {
        if (keyword == name) {
            return setter;
        }
    }
    throw py::type_error("no client parameter named '" + name + "'");
}

unsigned long to_milliseconds(double seconds)
{
    if (!(seconds >= 0)) {
        throw py::value_error("a time-out must be zero or more seconds");
    }
    return static_cast<unsigned long>(seconds * 1000.0 + 0.5);
}

}  // namespace

PyClient::PyClient(const std::string& address, const std::string& config, const py::kwargs& kw)
        : m_client(std::make_unique<tamsu::TamsuClient>(address, config))
{
    for (const auto& [name, value] : kw) {
        set_parameter(name.cast<std::string>(), value);
    }
}

PyClient::~PyClient()
{
    py::gil_scoped_release release;
    m_client.reset();
}

void PyClient::connect()
{
    tamsu::Result result;
    {
        py::gil_scoped_release release;
        result = m_client->connect();
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, "connect failed: " + error_message());
    }
}

tamsu::Result PyClient::disconnect()
{
    py::gil_scoped_release release;
    return m_client->disconnect();
}

tamsu::Result PyClient::finish(double timeout_s)
{
    const unsigned long whole_seconds = (to_milliseconds(timeout_s) + 999) / 1000;
    py::gil_scoped_release release;
    return m_client->finish(whole_seconds);
}

tamsu::ConnectionStatus PyClient::status() const
{
    py::gil_scoped_release release;
    return m_client->get_status();
}

std::string PyClient::error_message() const
{
    py::gil_scoped_release release;
    return m_client->get_error_message();
}

tamsu::PassReadResult PyClient::pass_read(PyRead& read, std::optional<double> timeout_s)
{
    const unsigned long timeout_ms = timeout_s ? to_milliseconds(*timeout_s) : 0;
    read.check_no_arrays();
    if (!read.has_tag()) {
        // Tags must fit in 32 bits and be unique among reads in flight.
        read.read().set_read_tag(m_next_tag++ & 0xffffffffUL);
    }
    // The read stays untouched by Python meanwhile: the GIL-holding caller is blocked here.
    py::gil_scoped_release release;
    return m_client->pass_read(read.read(), timeout_ms);
}

py::list PyClient::completed_reads(std::size_t max_reads, double timeout_s)
{
    // Without the GIL, so into a list of this call's own.
    std::list<tamsu::Read> arrived;
    const auto wait =
            std::chrono::milliseconds(m_completed.empty() ? to_milliseconds(timeout_s) : 0);
    {
        // The library offers no wait for completed reads; a short sleep between looks keeps a
        // waiting caller both prompt and idle.
        constexpr auto k_poll = std::chrono::milliseconds(1);
        const auto deadline = std::chrono::steady_clock::now() + wait;
        py::gil_scoped_release release;
        m_client->get_completed_reads(arrived);
        while (arrived.empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(k_poll);
            m_client->get_completed_reads(arrived);
        }
    }
    m_completed.splice(m_completed.end(), arrived);
    py::list result;
    while (!m_completed.empty() && (max_reads == 0 || result.size() < max_reads)) {
        result.append(py::cast(PyRead(std::move(m_completed.front()))));
        m_completed.pop_front();
    }
    return result;
}

py::dict PyClient::basecalling_config()
{
    vask::data_wrappers::Metadata config;
    tamsu::Result result;
    {
        py::gil_scoped_release release;
        result = m_client->get_basecalling_config(config);
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, "no basecalling configuration: " + tamsu::to_string(result));
    }
    return PyRead::metadata_dict(config);
}

std::string PyClient::alignment_sam_header()
{
    std::string header;
    tamsu::Result result;
    {
        py::gil_scoped_release release;
        result = m_client->get_alignment_sam_header(header);
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, "no alignment header: " + tamsu::to_string(result));
    }
    return header;
}

py::object PyClient::parameter(const std::string& name) const
{
    const auto found = m_parameters.find(name);
    return found == m_parameters.end() ? py::none() : found->second;
}

void PyClient::set_parameter(const std::string& name, const py::handle& value)
{
    const auto& apply = find_setter(name);
    tamsu::Result result;
    try {
        result = apply(*m_client, value, m_parameters);
    } catch (const py::cast_error&) {
        throw py::type_error("wrong type for client parameter '" + name +
                             "': " + py::repr(value).cast<std::string>());
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, "cannot set '" + name + "' now");
    }
    m_parameters[name] = py::reinterpret_borrow<py::object>(value);
}

void PyClient::bind(py::module_& module)
{
    py::class_<PyClient> client(module, "Client",
                                "One connection to a basecall server with one configuration.");
    client.def(py::init<const std::string&, const std::string&, const py::kwargs&>(),
               py::arg("address"), py::arg("config"))
            .def("connect", &PyClient::connect)
            .def("disconnect", &PyClient::disconnect)
            .def("finish", &PyClient::finish, py::arg("timeout_s") = 0.0)
            .def_property_readonly("status", &PyClient::status)
            .def_property_readonly("error_message", &PyClient::error_message)
            .def("pass_read", &PyClient::pass_read, py::arg("read"),
                 py::arg("timeout_s") = py::none())
            .def("completed_reads", &PyClient::completed_reads, py::arg("max_reads") = 0,
                 py::arg("timeout_s") = 0.0)
            .def("basecalling_config", &PyClient::basecalling_config)
            .def("alignment_sam_header", &PyClient::alignment_sam_header)
            .def("__enter__",
                 [](py::object self) {
                     self.cast<PyClient&>().connect();
                     return self;
                 })
            .def("__exit__", [](PyClient& self, const py::args&) { self.disconnect(); });
    for (const auto& entry : setters()) {
        const std::string name = entry.first;
        client.def_property(
                name.c_str(), [name](const PyClient& self) { return self.parameter(name); },
                [name](PyClient& self, const py::object& value) {
                    self.set_parameter(name, value);
                });
    }
}

}  // namespace tamsu_python
