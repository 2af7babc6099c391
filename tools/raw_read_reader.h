#pragma once

#include "tools/raw_read_source.h"

#include <fstream>
#include <istream>
#include <string>

namespace tamsu_cli {

// Reads raw reads one at a time from a file or standard input ("-").
class RawReadReader : public RawReadSource {
public:
    // Throws InputError when the file cannot be opened.
    explicit RawReadReader(const std::string& path);
    // Reads from a stream the caller keeps alive; `name` is used in messages.
    RawReadReader(std::istream& stream, std::string name);

    // The next read, or false at the end of the input. Throws InputError naming the input
    // and line for a malformed line or a read error.
    bool next(RawRead& read) override;

    const std::string& name() const override { return m_name; }

private:
    std::ifstream m_file;
    std::istream* m_stream;
    std::string m_name;
    std::size_t m_line_number = 0;
    std::string m_line;
};

}  // namespace tamsu_cli
