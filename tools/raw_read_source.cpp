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

bool is_slow5_path(const std::string& path)
{
    return ends_with(path, ".blow5") || ends_with(path, ".slow5");
}

std::unique_ptr<RawReadSource> RawReadSource::open(const std::string& path)
{
    if (is_slow5_path(path)) {
        return std::make_unique<Slow5Reader>(path);
    }
    return std::make_unique<RawReadReader>(path);
}

}  // namespace tamsu_cli
