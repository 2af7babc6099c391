#include "python/server_query_bindings.h"

#include "python/tamsu_error.h"

#include <client/server_query.h>
#include <client/tamsu_client.h>

#include <pybind11/stl.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace tamsu_python {
namespace {

namespace query = tamsu::server_query;
using Security = std::optional<tamsu::TransportSecurity>;

// Runs one of the library's query overloads, with CURVE when `security` is given, without the
// GIL; raises TamsuError unless it succeeded.
template <typename Output>
void run_query(const char* what, Output& output, const std::string& address,
               unsigned int timeout_ms, const Security& security,
               tamsu::Result (*plain)(Output&, std::string, unsigned int),
               tamsu::Result (*secure)(Output&, std::string, unsigned int,
                                       const tamsu::TransportSecurity&))
{
    tamsu::Result result;
    {
        py::gil_scoped_release release;
        result = security ? secure(output, address, timeout_ms, *security)
                          : plain(output, address, timeout_ms);
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, std::string(what) + " failed: " + tamsu::to_string(result));
    }
}

// Adds `name(address, timeout_ms, security)`, which returns what the query's output becomes
// through `convert`.
template <typename Output, typename Convert>
void def_query(py::module_& module, const char* name,
               tamsu::Result (*plain)(Output&, std::string, unsigned int),
               tamsu::Result (*secure)(Output&, std::string, unsigned int,
                                       const tamsu::TransportSecurity&),
               Convert convert)
{
    constexpr unsigned int k_default_timeout_ms = 2000;
    module.def(
            name,
            [=](const std::string& address, unsigned int timeout_ms, const Security& security) {
                Output output{};
                run_query(name, output, address, timeout_ms, security, plain, secure);
                return convert(output);
            },
            py::arg("address"), py::arg("timeout_ms") = k_default_timeout_ms,
            py::arg("security") = py::none());
}

py::object json_value(const std::string& text)
{
    return py::module_::import("json").attr("loads")(text);
}

py::dict statistics_dict(const query::ServerStatistics& statistics)
{
    py::list clients;
    for (const auto& client : statistics.clients) {
        clients.append(py::make_tuple(client.value_0, client.value_1));
    }
    py::dict result;
    result["stats"] = py::make_tuple(statistics.stat_0, statistics.stat_1, statistics.stat_2,
                                     statistics.stat_3);
    result["clients"] = clients;
    return result;
}

py::dict versions()
{
    py::dict result;
    result["api"] = tamsu::TamsuClient::get_api_version().text;
    result["data_wrappers"] = tamsu::TamsuClient::get_data_wrappers_version().text;
    result["protocol"] = tamsu::TamsuClient::get_protocol_version().text;
    result["software"] = tamsu::TamsuClient::get_software_version().text;
    return result;
}

void bind_kits(py::module_& module)
{
    using query::BarcodeKitDefinition;
    py::class_<BarcodeKitDefinition>(module, "BarcodeKit", "A barcode kit the server offers.")
            .def_property_readonly("kit_name", &BarcodeKitDefinition::kit_name)
            .def_property_readonly("first_index", &BarcodeKitDefinition::first_index)
            .def_property_readonly("last_index", &BarcodeKitDefinition::last_index)
            .def_property_readonly("first_inner_index", &BarcodeKitDefinition::first_inner_index)
            .def_property_readonly("last_inner_index", &BarcodeKitDefinition::last_inner_index)
            .def_property_readonly("is_dual", &BarcodeKitDefinition::is_dual)
            .def_property_readonly("is_both_ends", &BarcodeKitDefinition::is_both_ends)
            .def("generate_barcode_name", &BarcodeKitDefinition::generate_barcode_name,
                 py::arg("barcode"), py::arg("inner_barcode") = 0);
    using query::LampKitDefinition;
    py::class_<LampKitDefinition>(module, "LampKit", "A LAMP kit the server offers.")
            .def_property_readonly("kit_name", &LampKitDefinition::kit_name)
            .def_property_readonly("first_index", &LampKitDefinition::first_index)
            .def_property_readonly("last_index", &LampKitDefinition::last_index)
            .def_property_readonly("targets", &LampKitDefinition::targets)
            .def("generate_barcode_name", &LampKitDefinition::generate_barcode_name,
                 py::arg("barcode"));
}

}  // namespace

void bind_server_queries(py::module_& module)
{
    using tamsu::TransportSecurity;
    py::class_<TransportSecurity>(module, "TransportSecurity",
                                  "CURVE keys (Z85 text) for an encrypted connection.")
            .def(py::init<std::string, std::string, std::string>(), py::arg("server_public_key"),
                 py::arg("client_public_key"), py::arg("client_secret_key"))
            .def_readwrite("server_public_key", &TransportSecurity::server_public_key)
            .def_readwrite("client_public_key", &TransportSecurity::client_public_key)
            .def_readwrite("client_secret_key", &TransportSecurity::client_secret_key);
    bind_kits(module);
    module.def("versions", &versions,
               "The library's api, data_wrappers, protocol and software versions as text.");
    def_query(module, "server_information", &query::get_server_information,
              &query::get_server_information, &json_value);
    def_query(module, "server_internal_state", &query::get_server_internal_state,
              &query::get_server_internal_state, &json_value);
    def_query(module, "server_statistics", &query::get_server_statistics,
              &query::get_server_statistics, &statistics_dict);
    const auto as_list = [](const auto& kits) { return kits; };
    def_query(module, "barcode_kits", &query::get_barcode_kits, &query::get_barcode_kits, as_list);
    def_query(module, "lamp_kits", &query::get_lamp_kits, &query::get_lamp_kits, as_list);
}

}  // namespace tamsu_python
