// Internal failures and fatal states of the engine.
//
// An internal failure (a state the invariants rule out, or a key comparison that
// fails) is a thrown Panic. Engine operations only ever write private working copies,
// so unwinding releases the copy and leaves every published version intact; the
// Python call frame catches the Panic and raises it as an exception. Running out of
// memory unwinds the same way, as std::bad_alloc from the Heap (common/memory.hpp). A
// fatal state (count overflow) ends the process at once.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace quil {

/// The message of an internal failure that has no text of its own.
inline constexpr const char* kMissingValue = "internal error: a required value is missing";

class Panic {
public:
    Panic(std::string message, const char* file, unsigned line)
        : message_(std::move(message)), file_(file), line_(line) {}

    const std::string& message() const noexcept { return message_; }
    const char* file() const noexcept { return file_; }
    unsigned line() const noexcept { return line_; }

private:
    std::string message_;
    const char* file_;
    unsigned line_;
};

/// Writes the diagnostic (thread, location, message) to stderr where the failure is
/// detected, so it is on record even if the exception is later swallowed.
[[gnu::cold]] inline void report_panic(const std::string& message, const char* file,
                                       unsigned line) noexcept {
    const auto thread = std::hash<std::thread::id>{}(std::this_thread::get_id());
    std::fprintf(stderr, "quil: internal failure on thread %zx at %s:%u: %s\n", thread, file,
                 line, message.c_str());
    std::fflush(stderr);
}

/// Reports and throws an internal failure located at the caller.
[[noreturn, gnu::cold, gnu::noinline]] inline void panic(std::string message,
                                                         const char* file = __builtin_FILE(),
                                                         unsigned line = __builtin_LINE()) {
    report_panic(message, file, line);
    throw Panic(std::move(message), file, line);
}

/// Ends the process with `message` on stderr. Used where no recovery is possible.
[[noreturn, gnu::cold]] inline void fatal(const char* message) noexcept {
    std::fprintf(stderr, "quil: fatal: %s\n", message);
    std::fflush(stderr);
    std::abort();
}

}  // namespace quil
