#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tamsu_cli {

// "tamsu keygen PREFIX": writes a new CURVE key pair to PREFIX.public and PREFIX.secret.
class KeygenCommand {
public:
    static std::string usage();
    static int run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);
};

}  // namespace tamsu_cli
