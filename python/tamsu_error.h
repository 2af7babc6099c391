#pragma once

#include "python/enumerations.h"

#include <pybind11/pybind11.h>

#include <string>

namespace tamsu_python {

// Adds the exception class TamsuError (a RuntimeError with `result` and `message`) to `module`.
void bind_tamsu_error(pybind11::module_& module);

// Raises TamsuError carrying `result` and `message`; never returns.
[[noreturn]] void raise_tamsu_error(tamsu::Result result, const std::string& message);

}  // namespace tamsu_python
