// Argument parsing and the argument error messages.
#include "runtime/args.hpp"

#include <string>
#include <vector>

#include "runtime/errors.hpp"

namespace quil {

namespace {

/// "{C}.{m}()".
std::string display_name(const ArgumentSpec& spec) {
    return std::string(spec.class_name) + '.' + spec.method + "()";
}

/// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2) {
                text += " and ";
            } else if (i + 1 == names.size()) {
                text += ", and ";
            } else {
                text += ", ";
            }
        }
        text += '\'';
        text += names[i];
        text += '\'';
    }
    return text;
}

[[gnu::cold]] PendingError argument_error(std::string text) {
    return PendingError::message(PyExc_TypeError, std::move(text));
}

[[gnu::cold]] PendingError too_many(const ArgumentSpec& spec, std::size_t given) {
    const std::size_t count = spec.parameters.size();
    std::string text = display_name(spec) + " takes ";
    if (spec.required_positional < count) {
        text += "from " + std::to_string(spec.required_positional) + " to ";
    }
    text += std::to_string(count) + " positional arguments but " + std::to_string(given) +
            (given == 1 ? " was given" : " were given");
    return argument_error(std::move(text));
}

[[gnu::cold]] PendingError missing(const ArgumentSpec& spec,
                                   const std::vector<std::string_view>& names) {
    return argument_error(display_name(spec) + " missing " + std::to_string(names.size()) +
                          " required positional" +
                          (names.size() == 1 ? " argument: " : " arguments: ") + name_list(names));
}

}  // namespace

/// Shared by both forms: slots are filled positionally first, then keyword by keyword.
class ArgumentParser {
public:
    explicit ArgumentParser(const ArgumentSpec& spec) : spec_(spec) {}

    Outcome<Unit> positional(PyObject* const* args, std::size_t nargs) {
        const std::size_t count = spec_.parameters.size();
        if (nargs > count) {
            if (!takes(Extras::kArgs)) {
                return too_many(spec_, nargs);
            }
            parsed_.extra_positional_ = std::span<PyObject* const>(args + count, nargs - count);
            nargs = count;
        }
        for (std::size_t i = 0; i < nargs; ++i) {
            parsed_.slots_[i] = args[i];
        }
        given_positional_ = nargs;
        return Unit{};
    }

    /// One keyword argument. `owned`: the value comes from a dict, so a slot it fills
    /// takes a reference of its own. The caller holds `name` and `value` for the call:
    /// the name's __str__ or __hash__ may run Python code.
    Outcome<Unit> keyword(PyObject* name, PyObject* value, bool owned) {
        std::string_view text;
        if (PyUnicode_Check(name) && utf8_of(name, text)) {
            for (std::size_t p = 0; p < spec_.parameters.size(); ++p) {
                if (spec_.parameters[p] == text) {
                    return fill(p, text, value, owned);
                }
            }
        }
        if (!takes(Extras::kKwds)) {
            auto name_text = object_text(name);
            if (!name_text.ok()) {
                return std::move(name_text).take_error();
            }
            return argument_error(display_name(spec_) + " got an unexpected keyword argument '" +
                                  name_text.value() + "'");
        }
        if (!parsed_.extra_keywords_) {
            parsed_.extra_keywords_ = py::Ref::steal(PyDict_New());
            if (!parsed_.extra_keywords_) {
                return PendingError::fetch();
            }
        }
        if (PyDict_SetItem(parsed_.extra_keywords_.get(), name, value) < 0) {
            return PendingError::fetch();
        }
        return Unit{};
    }

    Outcome<ParsedArgs> finish() && {
        if (given_positional_ < spec_.required_positional) {
            std::vector<std::string_view> names;
            for (std::size_t i = given_positional_; i < spec_.required_positional; ++i) {
                if (parsed_.slots_[i] == nullptr) {
                    names.push_back(spec_.parameters[i]);
                }
            }
            if (!names.empty()) {
                return missing(spec_, names);
            }
        }
        return std::move(parsed_);
    }

private:
    bool takes(Extras which) const {
        return (static_cast<unsigned>(spec_.extras) & static_cast<unsigned>(which)) != 0;
    }

    Outcome<Unit> fill(std::size_t slot, std::string_view name, PyObject* value, bool owned) {
        if (parsed_.slots_[slot] != nullptr) {
            return argument_error(display_name(spec_) + " got multiple values for argument '" +
                                  std::string(name) + "'");
        }
        parsed_.slots_[slot] = value;
        if (owned) {
            Py_INCREF(value);
            parsed_.owned_ |= 1u << slot;
        }
        return Unit{};
    }

    const ArgumentSpec& spec_;
    ParsedArgs parsed_;
    std::size_t given_positional_ = 0;
};

Outcome<ParsedArgs> parse_fastcall(const ArgumentSpec& spec, PyObject* const* args,
                                   Py_ssize_t nargs, PyObject* kwnames) {
    const auto positional_count = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
    if (kwnames == nullptr && positional_count >= spec.required_positional &&
        positional_count <= spec.parameters.size()) {
        // The common call: a plain positional argument list that fits.
        ParsedArgs parsed;
        for (std::size_t i = 0; i < positional_count; ++i) {
            parsed.slots_[i] = args[i];
        }
        return parsed;
    }
    ArgumentParser parser(spec);
    if (auto status = parser.positional(args, positional_count); !status.ok()) {
        return std::move(status).take_error();
    }
    if (kwnames != nullptr) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            auto status =
                parser.keyword(PyTuple_GET_ITEM(kwnames, i),
                               args[positional_count + static_cast<std::size_t>(i)], false);
            if (!status.ok()) {
                return std::move(status).take_error();
            }
        }
    }
    return std::move(parser).finish();
}

Outcome<ParsedArgs> parse_tuple(const ArgumentSpec& spec, PyObject* args, PyObject* kwargs) {
    if (!PyTuple_Check(args)) {
        return type_mismatch(args, "tuple");
    }
    ArgumentParser parser(spec);
    auto* items = reinterpret_cast<PyTupleObject*>(args)->ob_item;
    if (auto status = parser.positional(items, static_cast<std::size_t>(PyTuple_GET_SIZE(args)));
        !status.ok()) {
        return std::move(status).take_error();
    }
    if (kwargs != nullptr) {
        if (!PyDict_Check(kwargs)) {
            return type_mismatch(kwargs, "dict");
        }
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) {
            // The dict is the caller's, but a name's __hash__ (collecting it into the extra
            // dict) or __str__ (in a message) can empty or refill it: both are held until
            // this keyword is done. PyDict_Next stays safe on a changed dict.
            const py::Ref held_name = py::Ref::borrow(name);
            const py::Ref held_value = py::Ref::borrow(value);
            if (auto status = parser.keyword(name, value, true); !status.ok()) {
                return std::move(status).take_error();
            }
        }
    }
    return std::move(parser).finish();
}

}  // namespace quil
