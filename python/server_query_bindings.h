#pragma once

#include <pybind11/pybind11.h>

namespace tamsu_python {

// Adds the server queries that need no client, and versions(), to `module`.
void bind_server_queries(pybind11::module_& module);

}  // namespace tamsu_python
