#include "tools/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tamsu_cli {

OutputFile::OutputFile(std::string path)
        : m_path(std::move(path))
{
    if (std::remove(m_path.c_str()) != 0 && errno != ENOENT) {
        throw std::runtime_error("cannot remove the old " + m_path + ": " + std::strerror(errno));
    }
    m_stream.open(partial_path(), std::ios::out | std::ios::trunc | std::ios::binary);
    if (!m_stream) {
        throw std::runtime_error("cannot create " + partial_path() + ": " + std::strerror(errno));
    }
}

void OutputFile::write(const std::string& text)
{
    m_stream << text;
}

void OutputFile::commit()
{
    m_stream.close();
    if (m_stream.fail()) {
        throw std::runtime_error("cannot write " + partial_path());
    }
    if (std::rename(partial_path().c_str(), m_path.c_str()) != 0) {
        throw std::runtime_error("cannot rename " + partial_path() + " to " + m_path + ": " +
                                 std::strerror(errno));
    }
}

}  // namespace tamsu_cli
