#pragma once

#include <string>

namespace tamsu {

// CURVE transport security: the traffic with the server is encrypted, and each side proves it
// holds the secret key to the public key the other expects. Keys are 40 characters of Z85 text
// each, as "tamsu keygen" writes them. All three empty (the default) means a plain connection;
// otherwise all three are needed. A plain value type.
struct TransportSecurity {
    // The server's public key: a server without the matching secret key cannot take part.
    std::string server_public_key;
    // This client's key pair; the server may admit only the public keys it knows.
    std::string client_public_key;
    std::string client_secret_key;
};

}  // namespace tamsu
