#include "common/active_object.h"

#include "common/logger.h"
#include "vask/util/set_thread_name.h"

#include <stdexcept>

namespace common {

ActiveObject::ActiveObject()
        : ActiveObject("active_object",
                       [](const std::exception& error) { TAMSU_LOG(error, error.what()); })
{
}

ActiveObject::ActiveObject(const std::string& name, ErrorHandler error_handler)
        : m_error_handler(std::move(error_handler))
{
    // Started last, so the thread sees every member built.
    m_thread = std::thread([this, name] { run(name); });
}

ActiveObject::~ActiveObject()
{
    join();
}

void ActiveObject::send(std::function<void()> task)
{
    m_queue.send(std::move(task));
}

void ActiveObject::join()
{
    send([this] { m_done = true; });
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void ActiveObject::run(const std::string& name)
{
    vask::util::set_thread_name(name.c_str());
    try {
        while (!m_done) {
            m_queue.receive()();
        }
    } catch (const std::exception& error) {
        report(error);
    } catch (...) {
        report(std::runtime_error("Unhandled error thrown in thread: " + name));
    }
}

void ActiveObject::report(const std::exception& error) noexcept
{
    // A throwing handler must not take the process down with it.
    try {
        m_error_handler(error);
    } catch (...) {
    }
}

}  // namespace common
