#pragma once

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace bench {

// A benchmark's answer to an argument it cannot use: `usage` on standard error and exit status 2.
[[noreturn]] inline void exit_with_usage(const char* usage)
{
    std::fputs(usage, stderr);
    std::exit(2);
}

// The number parsed from an argument, or the benchmark's usage when there is none.
template <typename Number>
Number or_usage(const std::optional<Number>& number, const char* usage)
{
    if (!number) {
        exit_with_usage(usage);
    }
    return *number;
}

}  // namespace bench
