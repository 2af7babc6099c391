#include "tools/output_file.h"

#include <fcntl.h>
#include <unistd.h>

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
    m_descriptor = ::open(partial_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_descriptor < 0) {
        throw std::runtime_error("cannot create " + partial_path() + ": " + std::strerror(errno));
    }
}

OutputFile::~OutputFile()
{
    if (m_descriptor >= 0) {
        ::close(m_descriptor);
    }
}

void OutputFile::write(const std::string& text)
{
    for (std::size_t done = 0; done < text.size() && m_write_error == 0;) {
        const auto written = ::write(m_descriptor, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR) {
            m_write_error = errno;
        }
        done += written > 0 ? static_cast<std::size_t>(written) : 0;
    }
}

void OutputFile::commit()
{
    const int closed = ::close(m_descriptor);
    m_descriptor = -1;
    const int error = m_write_error != 0 ? m_write_error : closed != 0 ? errno : 0;
    if (error != 0) {
        throw std::runtime_error("cannot write " + partial_path() + ": " + std::strerror(error));
    }
    if (std::rename(partial_path().c_str(), m_path.c_str()) != 0) {
        throw std::runtime_error("cannot rename " + partial_path() + " to " + m_path + ": " +
                                 std::strerror(errno));
    }
}

}  // namespace tamsu_cli
