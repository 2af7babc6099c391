#pragma once

#include <Python.h>

namespace tamsu_python {

// Whether a library thread may still take the GIL to touch Python objects: once the
// interpreter is finalizing, taking it would hang or end the thread, so leaving an object
// alone (a leak at exit) is the safe choice.
inline bool interpreter_alive()
{
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsInitialized() != 0 && Py_IsFinalizing() == 0;
#else
    return Py_IsInitialized() != 0 && _Py_IsFinalizing() == 0;
#endif
}

}  // namespace tamsu_python
