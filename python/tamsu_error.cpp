#include "python/tamsu_error.h"

namespace py = pybind11;

namespace tamsu_python {
namespace {

// Owned by the module from the first import on; never released, as the interpreter may
// outlive any order of teardown.
PyObject* g_tamsu_error = nullptr;

}  // namespace

void bind_tamsu_error(py::module_& module)
{
    g_tamsu_error = PyErr_NewExceptionWithDoc(
            "tamsu.TamsuError", "A client operation failed; `result` and `message` say how.",
            PyExc_RuntimeError, nullptr);
    if (g_tamsu_error == nullptr) {
        throw py::error_already_set();
    }
    module.add_object("TamsuError", py::handle(g_tamsu_error));
}

void raise_tamsu_error(tamsu::Result result, const std::string& message)
{
    py::object error = py::reinterpret_steal<py::object>(
            PyObject_CallFunction(g_tamsu_error, "s", message.c_str()));
    if (!error) {
        throw py::error_already_set();
    }
    error.attr("result") = result;
    error.attr("message") = message;
    PyErr_SetObject(g_tamsu_error, error.ptr());
    throw py::error_already_set();
}

}  // namespace tamsu_python
