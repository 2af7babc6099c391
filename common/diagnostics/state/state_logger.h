#pragma once

#include <memory>
#include <string>

namespace common::diagnostics::state {

// Closes the section it stands for when destroyed.
class ChildSection {
public:
    virtual ~ChildSection() = default;
};

// What a provider writes its state into. Other value types are converted by the caller to one
// of these.
class StateLogger {
public:
    virtual ~StateLogger() = default;
    virtual void log(std::string name, std::string value) = 0;
    virtual void log(std::string name, bool value) = 0;
    virtual void log(std::string name, long value) = 0;
    virtual void log(std::string name, unsigned long value) = 0;
    virtual void log(std::string name, double value) = 0;
    // Later writes go into the section until the handle is destroyed.
    virtual std::unique_ptr<ChildSection> create_child_section(std::string name) = 0;

    void log(std::string name, const char* value) { log(std::move(name), std::string(value)); }
};

}  // namespace common::diagnostics::state
