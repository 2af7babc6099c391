#pragma once

#include <pybind11/pybind11.h>

#include <utility>
#include <vector>

namespace tamsu_python {

// A C++ enumeration that Python sees as a class derived from enum.IntEnum, so its values are
// real Python enumerations (names, iteration, pickling, isinstance of enum.Enum). Used under
// the GIL; `bind` runs once, at module import, before any value crosses.
template <typename E>
class NativeEnum {
public:
    using Members = std::vector<std::pair<const char*, E>>;

    static void bind(pybind11::module_& module, const char* name, const Members& members)
    {
        pybind11::list pairs;
        for (const auto& [member, value] : members) {
            pairs.append(pybind11::make_tuple(member, static_cast<long long>(value)));
        }
        const pybind11::object type = pybind11::module_::import("enum").attr("IntEnum")(
                name, pairs, pybind11::arg("module") = "tamsu");
        module.add_object(name, type);
        class_object() = type.inc_ref().ptr();
    }

    static pybind11::handle type() { return class_object(); }

private:
    // Never released: values may cross until the interpreter's very end.
    static PyObject*& class_object()
    {
        static PyObject* object = nullptr;
        return object;
    }
};

// Converts between E and members of its NativeEnum class; any other value does not convert.
template <typename E>
struct NativeEnumCaster {
    PYBIND11_TYPE_CASTER(E, pybind11::detail::const_name("IntEnum"));

    bool load(pybind11::handle source, bool /*convert*/)
    {
        const auto type = NativeEnum<E>::type();
        if (!type || !pybind11::isinstance(source, type)) {
            return false;
        }
        value = static_cast<E>(source.attr("value").cast<long long>());
        return true;
    }

    static pybind11::handle cast(E source, pybind11::return_value_policy, pybind11::handle)
    {
        return NativeEnum<E>::type()(static_cast<long long>(source)).release();
    }
};

}  // namespace tamsu_python

// Makes E cross as its NativeEnum class, named `python_name` in signatures. Must be seen by
// every translation unit that passes E to or from Python.
#define TAMSU_PYTHON_NATIVE_ENUM(E, python_name)                                                   \
    namespace pybind11::detail {                                                                   \
    template <>                                                                                    \
    struct type_caster<E> : tamsu_python::NativeEnumCaster<E> {                                    \
        static constexpr auto name = const_name(python_name);                                      \
    };                                                                                             \
    }
