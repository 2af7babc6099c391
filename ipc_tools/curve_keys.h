#pragma once

#include <string>

namespace ipc_tools {

// CURVE transport security for the broker's socket: the server's public key and the client's
// key pair, each as 40 characters of Z85 text. All empty: a plain connection. A plain value type.
struct CurveKeys {
    std::string server_public_key;
    std::string client_public_key;
    std::string client_secret_key;

    // Whether any key is set: then all three must be (see check).
    bool enabled() const;
    // Throws std::invalid_argument naming the first key that is not 40 characters of Z85 text.
    void check() const;
};

// Whether `text` is a key as CURVE takes it: 40 characters of Z85 that decode to 32 bytes.
bool is_curve_key(const std::string& text);

}  // namespace ipc_tools
