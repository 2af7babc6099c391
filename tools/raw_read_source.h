#pragma once

#include "tools/raw_read.h"

#include <memory>
#include <string>
#include <vector>

namespace tamsu_cli {

// Where raw reads come from, one at a time, in file order. Not thread-safe.
class RawReadSource {
public:
    virtual ~RawReadSource() = default;

    // The next read, or false at the end. Throws InputError naming the input for anything that
    // is not a read.
    virtual bool next(RawRead& read) = 0;
    // The input as messages name it.
    virtual const std::string& name() const = 0;
    // The run ids the input declares before its reads; empty entries for runs it names none.
    virtual std::vector<std::string> run_ids() const { return {}; }

    // The reader for `path` by its name: SLOW5/BLOW5 for ".slow5"/".blow5", the tab-separated
    // text format otherwise ("-" for standard input). Throws InputError when it cannot be opened.
    static std::unique_ptr<RawReadSource> open(const std::string& path);
};

// The signal file format a path names by its extension: ".slow5", ".blow5", or else text.
enum class SignalFormat { text, slow5, blow5 };
SignalFormat signal_format(const std::string& path);

}  // namespace tamsu_cli
