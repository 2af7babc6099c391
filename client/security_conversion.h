#pragma once

#include "client/transport_security.h"
#include "ipc_tools/curve_keys.h"

namespace tamsu {

ipc_tools::CurveKeys to_curve_keys(const TransportSecurity& security);

}  // namespace tamsu
