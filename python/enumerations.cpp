#include "python/enumerations.h"

namespace tamsu_python {

void bind_enumerations(pybind11::module_& module)
{
    using tamsu::Result;
    NativeEnum<Result>::bind(module, "Result",
                             {{"success", Result::success},
                              {"no_connection", Result::no_connection},
                              {"already_connected", Result::already_connected},
                              {"not_ready", Result::not_ready},
                              {"timed_out", Result::timed_out},
                              {"invalid_response", Result::invalid_response},
                              {"basecall_config_unavailable", Result::basecall_config_unavailable},
                              {"barcode_kit_unavailable", Result::barcode_kit_unavailable},
                              {"align_index_unavailable", Result::align_index_unavailable},
                              {"bed_file_unavailable", Result::bed_file_unavailable},
                              {"align_index_no_seq", Result::align_index_no_seq},
                              {"file_load_timeout", Result::file_load_timeout},
                              {"failed", Result::failed},
                              {"bad_request", Result::bad_request},
                              {"bad_reply", Result::bad_reply}});
    using tamsu::ConnectionStatus;
    NativeEnum<ConnectionStatus>::bind(
            module, "ConnectionStatus",
            {{"disconnected", ConnectionStatus::disconnected},
             {"preparing_connection", ConnectionStatus::preparing_connection},
             {"loading_config", ConnectionStatus::loading_config},
             {"loading_alignment_index", ConnectionStatus::loading_alignment_index},
             {"loading_bed_file", ConnectionStatus::loading_bed_file},
             {"connecting", ConnectionStatus::connecting},
             {"connected", ConnectionStatus::connected},
             {"error", ConnectionStatus::error}});
    using tamsu::PassReadResult;
    NativeEnum<PassReadResult>::bind(module, "PassReadResult",
                                     {{"success", PassReadResult::success},
                                      {"not_accepting_reads", PassReadResult::not_accepting_reads},
                                      {"queue_full", PassReadResult::queue_full},
                                      {"invalid_read", PassReadResult::invalid_read}});
    using Priority = tamsu::Read::Priority;
    NativeEnum<Priority>::bind(module, "Priority",
                               {{"high", Priority::HIGH_PRIORITY},
                                {"medium", Priority::MEDIUM_PRIORITY},
                                {"low", Priority::LOW_PRIORITY}});
}

}  // namespace tamsu_python
