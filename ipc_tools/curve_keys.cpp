#include "ipc_tools/curve_keys.h"

#include <zmq.h>

#include <array>
#include <cstdint>
#include <stdexcept>

namespace ipc_tools {

bool CurveKeys::enabled() const
{
    return !server_public_key.empty() || !client_public_key.empty() || !client_secret_key.empty();
}

void CurveKeys::check() const
{
    const std::pair<const char*, const std::string*> keys[] = {
            {"the server's public key", &server_public_key},
            {"the client's public key", &client_public_key},
            {"the client's secret key", &client_secret_key}};
    for (const auto& [name, key] : keys) {
        if (!is_curve_key(*key)) {
            throw std::invalid_argument(std::string("CURVE transport security: ") + name +
                                        " is not 40 characters of Z85 text");
        }
    }
}

bool is_curve_key(const std::string& text)
{
    std::array<std::uint8_t, 32> bytes{};
    return text.size() == 40 && zmq_z85_decode(bytes.data(), text.c_str()) != nullptr;
}

}  // namespace ipc_tools
