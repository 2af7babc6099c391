#include "python/python_callable.h"

namespace tamsu_python {

PythonCallable::PythonCallable(pybind11::object callable)
        : m_held(std::make_shared<Held>())
{
    m_held->callable = std::move(callable);
}

PythonCallable::Held::~Held()
{
    if (!interpreter_alive()) {
        callable.release();  // leaked on purpose, see interpreter_alive
        return;
    }
    pybind11::gil_scoped_acquire gil;
    callable = pybind11::object();
}

}  // namespace tamsu_python
