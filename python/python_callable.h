#pragma once

#include "python/interpreter_alive.h"

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

namespace tamsu_python {

// A Python callable that library threads may hold, copy, call and drop without the GIL: each
// call and the last release take it. An exception the callable raises goes to
// sys.unraisablehook rather than into the library. Calls and the release are skipped once
// the interpreter is finalizing.
class PythonCallable {
public:
    // Under the GIL.
    explicit PythonCallable(pybind11::object callable);

    template <typename... Arguments>
    void operator()(Arguments&&... arguments) const
    {
        if (!interpreter_alive()) {
            return;
        }
        pybind11::gil_scoped_acquire gil;
        try {
            m_held->callable(std::forward<Arguments>(arguments)...);
        } catch (pybind11::error_already_set& error) {
            error.discard_as_unraisable(m_held->callable);
        }
    }

private:
    struct Held {
        ~Held();
        pybind11::object callable;
    };

    std::shared_ptr<Held> m_held;
};

}  // namespace tamsu_python
