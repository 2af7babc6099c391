#include "python/server_query_bindings.h"

#include "python/tamsu_error.h"

#include <client/server_query.h>
#include <client/tamsu_client.h>

#include <pybind11/stl.h>

#include <string>
#include <utility>

namespace py = pybind11;

namespace tamsu_python {
namespace {

// Runs `query` without the GIL; raises TamsuError unless it succeeded.
template <typename Query>
void run_query(const char* what, const Query& query)
{
    tamsu::Result result;
    {
        py::gil_scoped_release release;
        result = query();
    }
    if (result != tamsu::Result::success) {
        raise_tamsu_error(result, std::string(what) + " failed: " + tamsu::to_string(result));
    }
}

using JsonQuery = tamsu::Result (*)(std::string&, std::string, unsigned int);

// Adds `name(address, timeout_ms)`, which returns the JSON text the server sent as Python values.
void def_json_query(py::module_& module, const char* name, JsonQuery query,
                    unsigned int default_timeout_ms)
{
    module.def(
            name,
            [name, query](const std::string& address, unsigned int timeout_ms) {
                std::string text;
                run_query(name, [&] { return query(text, address, timeout_ms); });
                return py::module_::import("json").attr("loads")(text);
            },
            py::arg("address"), py::arg("timeout_ms") = default_timeout_ms);
}

py::dict server_statistics(const std::string& address, unsigned int timeout_ms)
{
    tamsu::server_query::ServerStatistics statistics;
    run_query("server_statistics", [&] {
        return tamsu::server_query::get_server_statistics(statistics, address, timeout_ms);
    });
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

}  // namespace

void bind_server_queries(py::module_& module)
{
    constexpr unsigned int k_default_timeout_ms = 2000;
    module.def("versions", &versions,
               "The library's api, data_wrappers, protocol and software versions as text.");
    def_json_query(module, "server_information", &tamsu::server_query::get_server_information,
                   k_default_timeout_ms);
    def_json_query(module, "server_internal_state", &tamsu::server_query::get_server_internal_state,
                   k_default_timeout_ms);
    module.def("server_statistics", &server_statistics, py::arg("address"),
               py::arg("timeout_ms") = k_default_timeout_ms);
}

}  // namespace tamsu_python
