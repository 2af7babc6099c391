#include "client/security_conversion.h"

namespace tamsu {

ipc_tools::CurveKeys to_curve_keys(const TransportSecurity& security)
{
    return {security.server_public_key, security.client_public_key, security.client_secret_key};
}

}  // namespace tamsu
