#include "tools/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace tamsu_cli {

namespace {

// Records are small; write them to the system in pieces of about this size.
constexpr std::size_t k_buffer_size = 1 << 16;

}  // namespace

OutputFile::OutputFile(std::string path)
        : m_path(std::move(path))
        , m_partial_path(m_path + ".partial")
{
    // unlink removes a planted link itself, not its target; O_EXCL then refuses anything that
    // appears at the name meanwhile.
    if (::unlink(m_partial_path.c_str()) != 0 && errno != ENOENT) {
        fail("cannot replace the stale ");
    }
    m_descriptor = ::open(m_partial_path.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (m_descriptor < 0) {
        fail("cannot create ");
    }
}

OutputFile::OutputFile(std::string path, std::uint64_t length)
        : m_path(std::move(path))
        , m_partial_path(m_path + ".partial")
{
    m_descriptor = ::open(m_partial_path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (m_descriptor < 0) {
        fail("cannot open ");
    }
    const auto size = static_cast<off_t>(length);
    if (::ftruncate(m_descriptor, size) != 0 || ::lseek(m_descriptor, size, SEEK_SET) != size) {
        fail("cannot cut back ");
    }
}

OutputFile::~OutputFile()
{
    if (m_descriptor >= 0) {
        // A partial file keeps what came back, for a look at what went wrong.
        write_buffer();
        ::close(m_descriptor);
    }
}

void OutputFile::write(const std::string& text)
{
    m_buffer += text;
    if (m_buffer.size() >= k_buffer_size) {
        flush();
    }
}

bool OutputFile::write_buffer()
{
    std::size_t done = 0;
    while (done < m_buffer.size()) {
        const auto written = ::write(m_descriptor, m_buffer.data() + done, m_buffer.size() - done);
        if (written < 0 && errno != EINTR) {
            m_buffer.erase(0, done);
            return false;
        }
        done += written < 0 ? 0 : static_cast<std::size_t>(written);
    }
    m_buffer.clear();
    return true;
}

void OutputFile::flush()
{
    if (!write_buffer()) {
        fail("cannot write ");
    }
}

std::uint64_t OutputFile::length()
{
    flush();
    const auto position = ::lseek(m_descriptor, 0, SEEK_CUR);
    if (position < 0) {
        fail("cannot write ");
    }
    return static_cast<std::uint64_t>(position);
}

void OutputFile::close()
{
    flush();
    // Some file systems report a failed write only here.
    if (::fsync(m_descriptor) != 0) {
        fail("cannot write ");
    }
    const int descriptor = m_descriptor;
    m_descriptor = -1;
    if (::close(descriptor) != 0) {
        fail("cannot write ");
    }
}

void OutputFile::commit()
{
    if (std::rename(m_partial_path.c_str(), m_path.c_str()) != 0) {
        fail("cannot rename ");
    }
    m_committed = true;
}

void OutputFile::fail(const char* action) const
{
    const int error = errno;
    throw std::runtime_error(action + m_partial_path + ": " + std::strerror(error));
}

}  // namespace tamsu_cli
