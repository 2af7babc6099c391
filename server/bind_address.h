#pragma once

#include <string>

// Server addresses as a user gives them, and the ZeroMQ endpoints the server binds for them.
namespace reference_server {

// The endpoint to bind for `address`:
// - a port ("5555") binds the loopback interface, or every interface when `bind_all`;
// - "HOST:PORT" and "tcp://HOST:PORT": HOST "localhost" is the loopback interface, "*" or
//   "0.0.0.0" every interface; PORT 0 or "*" is any free port;
// - any other endpoint ("ipc:///tmp/server") is used as it is.
// Throws std::invalid_argument for an address it cannot interpret, a port above 65535, or
// `bind_all` with anything but a bare port.
std::string to_bind_endpoint(const std::string& address, bool bind_all = false);

// Whether a tcp endpoint, as given to bind or as bound, serves every interface.
bool serves_all_interfaces(const std::string& endpoint);

// Binding an ipc:// path removes whatever file is there, so a live server's socket would be
// taken over silently. Throws std::runtime_error when a server accepts connections at the
// endpoint's path or the path is something other than a socket; a socket left behind by a
// server that is gone may be bound again.
void check_ipc_path_unclaimed(const std::string& endpoint);

}  // namespace reference_server
