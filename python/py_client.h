#pragma once

#include "python/enumerations.h"
#include "python/py_read.h"

#include <client/tamsu_client.h>

#include <pybind11/pybind11.h>

#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tamsu_python {

// A client as Python sees it. Every call that may wait releases the GIL, so other Python
// threads (a feeder, a collector) run meanwhile. Parameters are keyword arguments of the
// constructor and properties; a property reads back the value last set (None before).
class PyClient {
public:
    PyClient(const std::string& address, const std::string& config, const pybind11::kwargs& kw);
    // Stops the client without the GIL: its worker may release Python buffers on the way.
    ~PyClient();
    PyClient(const PyClient&) = delete;
    PyClient& operator=(const PyClient&) = delete;

    // Raises TamsuError (with the result and the client's message) unless connected.
    void connect();
    tamsu::Result disconnect();
    tamsu::Result finish(double timeout_s);
    tamsu::ConnectionStatus status() const;
    std::string error_message() const;

    // Numbers reads that carry no tag of the host's. TypeError for anything but a Read.
    tamsu::PassReadResult pass_read(PyRead& read, std::optional<double> timeout_s);
    // At most `max_reads` (0: all) of the reads completed so far, oldest first; when there are
    // none, waits up to `timeout_s` for some (without the GIL).
    pybind11::list completed_reads(std::size_t max_reads, double timeout_s);

    // The connected configuration's details, and the alignment index's SAM header; both raise
    // TamsuError (no_connection) before the first connect.
    pybind11::dict basecalling_config();
    std::string alignment_sam_header();

    pybind11::object parameter(const std::string& name) const;
    // Raises TamsuError when the client refuses (already_connected), TypeError for a value of
    // the wrong type.
    void set_parameter(const std::string& name, const pybind11::handle& value);

    static void bind(pybind11::module_& module);

private:
    std::unique_ptr<tamsu::TamsuClient> m_client;
    std::map<std::string, pybind11::object> m_parameters;  // as last set
    std::list<tamsu::Read> m_completed;                    // collected, not yet handed out
    unsigned long m_next_tag = 0;
};

}  // namespace tamsu_python
