// Argument parsing against a method's static ArgumentSpec record.
//
// Parsing works on the fast-call array (or the tuple/dict of the older forms) and
// fills one borrowed slot per parameter (a value read from a keyword dict is held
// instead). It builds no tuple or dict except the dict of extra keywords for forms that
// collect **kwds; extra positionals are a view into the caller's arguments.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

#include "runtime/outcome.hpp"

namespace quil {

/// Whether a calling form collects *args and/or **kwds beyond its parameters.
enum class Extras : unsigned char { kNone = 0, kArgs = 1, kKwds = 2 };

/// One method's parameters, as its error messages name them. Every parameter can be
/// given by position or by keyword; the first `required_positional` must be given.
struct ArgumentSpec {
    const char* class_name;
    const char* method;  // "__new__" for constructors
    std::span<const std::string_view> parameters = {};
    std::size_t required_positional = 0;
    Extras extras = Extras::kNone;
};

class ParsedArgs {
public:
    static constexpr std::size_t kMaxSlots = 4;

    ParsedArgs() = default;
    ParsedArgs(ParsedArgs&& other) noexcept
        : slots_(other.slots_),
          extra_positional_(other.extra_positional_),
          extra_keywords_(std::move(other.extra_keywords_)),
          owned_(std::exchange(other.owned_, 0)) {}
    ParsedArgs& operator=(ParsedArgs&&) = delete;
    ~ParsedArgs() {
        for (std::size_t i = 0; owned_ != 0 && i < kMaxSlots; ++i) {
            if ((owned_ & (1u << i)) != 0) {
                Py_DECREF(slots_[i]);
            }
        }
    }

    /// The argument in slot i (borrowed), or null when it was not given.
    PyObject* operator[](std::size_t i) const noexcept { return slots_[i]; }
    /// Slot i, or `fallback` when it was not given or was given as None.
    PyObject* value_or_none_default(std::size_t i, PyObject* fallback) const noexcept {
        PyObject* given = slots_[i];
        return given != nullptr && given != Py_None ? given : fallback;
    }
    std::span<PyObject* const> extra_positional() const noexcept { return extra_positional_; }
    /// The dict of extra keywords (borrowed), or null when none were given.
    PyObject* extra_keywords() const noexcept { return extra_keywords_.get(); }

private:
    friend class ArgumentParser;
    friend Outcome<ParsedArgs> parse_fastcall(const ArgumentSpec&, PyObject* const*, Py_ssize_t,
                                              PyObject*);
    std::array<PyObject*, kMaxSlots> slots_{};
    std::span<PyObject* const> extra_positional_;
    py::Ref extra_keywords_;
    // Slots holding a reference of their own: those filled from a keyword dict, which
    // Python code run later in the call (a key's __hash__, say) may empty. The fast-call
    // array and kwnames tuple are the caller's for the whole call, and tuples never change.
    unsigned owned_ = 0;
};

/// Fast-call form: positional arguments in `args[0:nargs]`, keyword values after them,
/// named by `kwnames` (or null).
Outcome<ParsedArgs> parse_fastcall(const ArgumentSpec& spec, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames);

/// Tuple form (tp_new, METH_VARARGS): a positional tuple and a keyword dict or null.
Outcome<ParsedArgs> parse_tuple(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs);

}  // namespace quil
