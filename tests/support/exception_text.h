#pragma once

#include <exception>
#include <string>

namespace tamsu_test {

// The what() text of the Exception that `operation` throws, or "<no exception>" when it returns
// normally, so that a test can compare exact failure texts in one expectation.
template <typename Exception = std::exception, typename Operation>
std::string exception_text(Operation&& operation)
{
    try {
        operation();
    } catch (const Exception& error) {
        return error.what();
    }
    return "<no exception>";
}

}  // namespace tamsu_test
