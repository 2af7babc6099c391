#include "basecall_service/exception_translation.h"

#include "ipc_tools/request_broker.h"

#include <zmq.hpp>

#include <string>
#include <system_error>

namespace basecall_service {

ErrorState translate_current_exception()
{
    try {
        throw;
    } catch (const ipc_tools::BadReply& error) {
        return {ConnectionError::bad_reply, error.what()};
    } catch (const ipc_tools::BadRequest& error) {
        return {ConnectionError::bad_request, error.what()};
    } catch (const ipc_tools::TimeoutError& error) {
        return {ConnectionError::timed_out, error.what()};
    } catch (const ipc_tools::InvalidResponse& error) {
        return {ConnectionError::invalid_response, error.what()};
    } catch (const ipc_tools::HandshakeError& error) {
        // Not a lost server: reconnecting would fail the same way.
        return {ConnectionError::failed, error.what()};
    } catch (const std::system_error& error) {
        return {ConnectionError::failed,
                "std::system_error[" + std::string(error.code().category().name()) + ":" +
                        std::to_string(error.code().value()) + "] : " + error.what()};
    } catch (const zmq::error_t& error) {
        return {ConnectionError::failed, std::string("zmq::error_t : ") + error.what()};
    } catch (const std::exception& error) {
        // Not expected from the broker (a contract violation, say); still a failure.
        return {ConnectionError::failed, error.what()};
    }
}

}  // namespace basecall_service
