#pragma once

#include <client/read.h>

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

namespace tamsu_python {

// A read as Python sees it: built from a read id and an int16 signal buffer (which the read
// views in place and keeps alive), or handed back called by a client. Used under the GIL only.
class PyRead {
public:
    // What the arrays over a read's memory share with it.
    struct ArrayToken {};

    // Throws TypeError when `signal` is no int16 buffer, ValueError when it is not one
    // contiguous dimension.
    PyRead(const std::string& read_id, const pybind11::object& signal, float offset, float scaling,
           std::optional<unsigned long> tag);
    explicit PyRead(tamsu::Read&& read);

    tamsu::Read& read() { return m_read; }
    // Whether the host chose the tag; a client numbers the others itself.
    bool has_tag() const { return m_has_tag; }
    void set_tag(unsigned long tag);

    std::string metadata_text(const std::string& name) const;
    // A dataset's text ("" when absent), as the sequence and qualities are stored.
    std::string dataset_text(interfaces::dataset slot) const;
    pybind11::dict metadata() const;
    // Metadata as a dict of Python values of the same types (None for any other type).
    static pybind11::dict metadata_dict(const vask::data_wrappers::Metadata& metadata);
    // Every numeric dataset as a read-only array over the read's own memory; `self` (this
    // read's Python object) stays alive as long as any of them does.
    static pybind11::dict datasets(const pybind11::object& self);
    // Raises BufferError while arrays from `datasets` are alive: passing the read would move
    // the memory they show into the library, which may free it at any time.
    void check_no_arrays() const;

    static void bind(pybind11::module_& module);

private:
    tamsu::Read m_read;
    bool m_has_tag = false;
    // Shared by the keeper of each set of arrays handed out; unique when none is alive.
    std::shared_ptr<ArrayToken> m_array_token = std::make_shared<ArrayToken>();
};

}  // namespace tamsu_python
