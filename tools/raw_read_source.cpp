#include "tools/raw_read_source.h"

#include "tools/raw_read_reader.h"
#include "tools/slow5_reader.h"

namespace tamsu_cli {

namespace {

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

SignalFormat signal_format(const std::string& path)
{
    return ends_with(path, ".slow5")   ? SignalFormat::slow5
           : ends_with(path, ".blow5") ? SignalFormat::blow5
                                       : SignalFormat::text;
}

std::unique_ptr<RawReadSource> RawReadSource::open(const std::string& path)
{
    if (signal_format(path) != SignalFormat::text) {
        return std::make_unique<Slow5Reader>(path);
    }
    return std::make_unique<RawReadReader>(path);
}

}  // namespace tamsu_cli
