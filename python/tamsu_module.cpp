// The extension module behind the Python package `tamsu`.
#include "python/log_forwarder.h"
#include "python/py_client.h"
#include "python/py_read.h"
#include "python/server_query_bindings.h"
#include "python/tamsu_error.h"

#include <client/result.h>

#include <pybind11/pybind11.h>

namespace py = pybind11;

namespace {

void bind_enumerations(py::module_& module)
{
    using tamsu::Result;
    py::enum_<Result>(module, "Result")
            .value("success", Result::success)
            .value("no_connection", Result::no_connection)
            .value("already_connected", Result::already_connected)
            .value("not_ready", Result::not_ready)
            .value("timed_out", Result::timed_out)
            .value("invalid_response", Result::invalid_response)
            .value("basecall_config_unavailable", Result::basecall_config_unavailable)
            .value("barcode_kit_unavailable", Result::barcode_kit_unavailable)
            .value("align_index_unavailable", Result::align_index_unavailable)
            .value("bed_file_unavailable", Result::bed_file_unavailable)
            .value("align_index_no_seq", Result::align_index_no_seq)
            .value("file_load_timeout", Result::file_load_timeout)
            .value("failed", Result::failed)
            .value("bad_request", Result::bad_request)
            .value("bad_reply", Result::bad_reply);
    using tamsu::ConnectionStatus;
    py::enum_<ConnectionStatus>(module, "ConnectionStatus")
            .value("disconnected", ConnectionStatus::disconnected)
            .value("preparing_connection", ConnectionStatus::preparing_connection)
            .value("loading_config", ConnectionStatus::loading_config)
            .value("loading_alignment_index", ConnectionStatus::loading_alignment_index)
            .value("loading_bed_file", ConnectionStatus::loading_bed_file)
            .value("connecting", ConnectionStatus::connecting)
            .value("connected", ConnectionStatus::connected)
            .value("error", ConnectionStatus::error);
    using tamsu::PassReadResult;
    py::enum_<PassReadResult>(module, "PassReadResult")
            .value("success", PassReadResult::success)
            .value("not_accepting_reads", PassReadResult::not_accepting_reads)
            .value("queue_full", PassReadResult::queue_full)
            .value("invalid_read", PassReadResult::invalid_read);
    using Priority = tamsu::Read::Priority;
    py::enum_<Priority>(module, "Priority")
            .value("high", Priority::HIGH_PRIORITY)
            .value("medium", Priority::MEDIUM_PRIORITY)
            .value("low", Priority::LOW_PRIORITY);
}

}  // namespace

PYBIND11_MODULE(_tamsu, module)
{
    module.doc() = "Python bindings of the tamsu basecall client library.";
    tamsu_python::bind_tamsu_error(module);
    bind_enumerations(module);
    tamsu_python::PyRead::bind(module);
    tamsu_python::PyClient::bind(module);
    tamsu_python::bind_server_queries(module);
    tamsu_python::LogForwarder::install();
}
