#pragma once

#include "client/transport_security.h"

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// "tamsu query WHAT": one question to a server (or to the embedded one), answered as text.
class QueryCommand {
public:
    static std::string usage();
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

private:
    // The answer's text, or false with the result code in `failure`.
    static bool ask(const std::string& what, const std::string& address, unsigned int timeout,
                    const tamsu::TransportSecurity& security, std::string& answer,
                    std::string& failure);
};

}  // namespace tamsu_cli
