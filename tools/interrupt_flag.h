#pragma once

namespace tamsu_cli {

// Turns the first SIGINT or SIGTERM into a request to stop cleanly, which the basecall loop
// polls; a second one ends the process at once, as if nothing were installed.
class InterruptFlag {
public:
    static void install();
    static bool raised();
};

}  // namespace tamsu_cli
