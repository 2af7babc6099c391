// The extension module behind the Python package `tamsu`.
#include "python/enumerations.h"
#include "python/log_forwarder.h"
#include "python/py_client.h"
#include "python/py_read.h"
#include "python/server_query_bindings.h"
#include "python/tamsu_error.h"

#include <pybind11/pybind11.h>

PYBIND11_MODULE(_tamsu, module)
{
    module.doc() = "Python bindings of the tamsu basecall client library.";
    tamsu_python::bind_tamsu_error(module);
    tamsu_python::bind_enumerations(module);
    tamsu_python::PyRead::bind(module);
    tamsu_python::PyClient::bind(module);
    tamsu_python::bind_server_queries(module);
    tamsu_python::LogForwarder::install();
}
