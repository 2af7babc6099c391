#pragma once

// The library's enumerations as Python enumerations (tamsu.Result, ...). Every source of the
// module that passes one of them includes this header.
#include "python/native_enum.h"

#include <client/read.h>
#include <client/result.h>

TAMSU_PYTHON_NATIVE_ENUM(tamsu::Result, "Result")
TAMSU_PYTHON_NATIVE_ENUM(tamsu::ConnectionStatus, "ConnectionStatus")
TAMSU_PYTHON_NATIVE_ENUM(tamsu::PassReadResult, "PassReadResult")
TAMSU_PYTHON_NATIVE_ENUM(tamsu::Read::Priority, "Priority")

namespace tamsu_python {

// Creates the enumeration classes in `module`.
void bind_enumerations(pybind11::module_& module);

}  // namespace tamsu_python
