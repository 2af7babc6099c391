#include "tools/raw_read_reader.h"

#include "tools/input_error.h"
#include "tools/raw_read_format.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>

namespace tamsu_cli {

RawReadReader::RawReadReader(const std::string& path)
        : m_stream(&std::cin)
        , m_name(path == "-" ? "standard input" : path)
{
    if (path == "-") {
        return;
    }
    if (std::filesystem::is_directory(path)) {
        throw InputError("cannot read " + path + ": it is a directory");
    }
    m_file.open(path);
    if (!m_file) {
        throw InputError("cannot read " + path + ": " + std::strerror(errno));
    }
    m_stream = &m_file;
}

RawReadReader::RawReadReader(std::istream& stream, std::string name)
        : m_stream(&stream)
        , m_name(std::move(name))
{
}

bool RawReadReader::next(RawRead& read)
{
    while (std::getline(*m_stream, m_line)) {
        ++m_line_number;
        if (RawReadFormat::is_skippable(m_line)) {
            continue;
        }
        try {
            read = RawReadFormat::parse(m_line);
        } catch (const InputError& error) {
            throw InputError(m_name + ": line " + std::to_string(m_line_number) + ": " +
                             error.what());
        }
        return true;
    }
    if (m_stream->bad()) {
        throw InputError(m_name + ": read error after line " + std::to_string(m_line_number));
    }
    return false;
}

}  // namespace tamsu_cli
