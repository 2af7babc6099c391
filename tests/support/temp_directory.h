#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace tamsu_test {

// A fresh directory under /tmp (short, so ipc:// paths in it stay within the socket limit),
// removed with its content on destruction.
class TempDirectory {
public:
    TempDirectory()
    {
        if (mkdtemp(m_path.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path = "/tmp/tamsu-cli-test-XXXXXX";
};

}  // namespace tamsu_test
