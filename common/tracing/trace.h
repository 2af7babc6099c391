#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

// Scoped traces per class ("domain"). No domain is enabled in this library, so every hook lands
// on a shared disabled context: one virtual call and no formatting.
namespace common::tracing {

namespace details {

// Where a domain's trace lines go.
class TraceContext {
public:
    virtual ~TraceContext() = default;
    virtual void write_entry(const std::string& name) = 0;
    virtual void write_exit(const std::string& name) = 0;
    virtual void write_exit(const std::string& name, std::chrono::nanoseconds elapsed) = 0;
    virtual void write_message(const std::string& name, const std::string& text) = 0;
    // `producer` is called only when the context writes the message.
    virtual void write_message(const std::string& name, std::function<std::string()> producer) = 0;
    virtual void write_message(const std::string& name, const std::string& text,
                               std::chrono::nanoseconds elapsed) = 0;
};

// Drops everything without looking at it.
class DisabledTraceContext final : public TraceContext {
public:
    void write_entry(const std::string&) override {}
    void write_exit(const std::string&) override {}
    void write_exit(const std::string&, std::chrono::nanoseconds) override {}
    void write_message(const std::string&, const std::string&) override {}
    void write_message(const std::string&, std::function<std::string()>) override {}
    void write_message(const std::string&, const std::string&, std::chrono::nanoseconds) override {}
};

// The context for a domain name. Nothing in this library enables a domain, so this is always
// the one shared disabled context.
std::shared_ptr<TraceContext> create_trace_context(const std::string& domain_name);

// The demangled name of a type without "class " and "struct " (e.g. "ipc_tools::Message").
std::string domain_name_of(const std::type_info& type);

}  // namespace details

// A trace scope: writes an entry line when created and an exit line when destroyed (with the
// elapsed time when timed). Used by one thread; neither copied nor moved.
class Trace {
public:
    Trace(std::shared_ptr<details::TraceContext> context, std::string name, bool timed = false);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    void message(const std::string& text) const;
    void message(std::function<std::string()> producer) const;
    // With the elapsed time since the scope began when the trace is timed.
    void timed_message(const std::string& text) const;

private:
    std::shared_ptr<details::TraceContext> m_context;
    std::string m_name;
    bool m_timed;
    std::chrono::system_clock::time_point m_start;
};

// Trace access for the domain named after `Tag`. High-frequency traces of a class use a tag in
// namespace hftrace (see TAMSU_HFTRACE_DOMAIN) so they can be switched on separately.
template <typename Tag>
class TraceDomainHelper {
public:
    static const std::string& domain_name()
    {
        static const std::string name = details::domain_name_of(typeid(Tag));
        return name;
    }

    static const std::shared_ptr<details::TraceContext>& get_trace_context()
    {
        static const auto context = details::create_trace_context(domain_name());
        return context;
    }

    static Trace create_trace(std::string name, bool timed = false)
    {
        return Trace(get_trace_context(), std::move(name), timed);
    }

    static void write_trace(const std::string& name, const std::string& text)
    {
        get_trace_context()->write_message(name, text);
    }

    // `producer` builds the text only if the domain is enabled.
    static void write_trace(const std::string& name, std::function<std::string()> producer)
    {
        get_trace_context()->write_message(name, std::move(producer));
    }
};

// Base of every class that traces; the domain is the class itself.
template <typename T>
class TraceDomain : public TraceDomainHelper<T> {
public:
    virtual ~TraceDomain() = default;
};

}  // namespace common::tracing

// Declares the high-frequency trace tag hftrace::<ns>::<cls> for class <ns>::<cls>. Use at global
// scope.
#define TAMSU_HFTRACE_DOMAIN(ns, cls)                                                              \
    namespace hftrace::ns {                                                                        \
    struct cls {};                                                                                 \
    }
