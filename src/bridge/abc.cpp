// collections.abc: the afresh reads and the cell that keeps Mapping.
#include "bridge/abc.hpp"

#include <string>

#include "quil/common/panic.hpp"
#include "runtime/errors.hpp"
#include "runtime/interpreter.hpp"

namespace quil {

Outcome<py::Ref> import_collections_abc() {
    py::Ref name = py::Ref::steal(PyUnicode_FromString("collections.abc"));
    py::Ref module = name ? py::Ref::steal(PyImport_Import(name.get())) : py::Ref();
    if (!module) {
        return PendingError::fetch();
    }
    return module;
}

Outcome<py::Ref> abc_class(PyObject* abc_module, const char* name) {
    py::Ref found = py::Ref::steal(PyObject_GetAttrString(abc_module, name));
    if (!found) {
        return PendingError::fetch();
    }
    return found;
}

PyObject* abc_mapping() {
    auto cell = InterpreterState::get().abc_mapping().get_or_init([]() -> Outcome<py::Ref> {
        auto module = import_collections_abc();
        if (!module.ok()) {
            return std::move(module).take_error();
        }
        return abc_class(module.value().get(), "Mapping");
    });
    if (!cell.ok()) {
        py::Ref raised = std::move(cell).take_error().into_exception();
        panic("failed to import collections.abc.Mapping: " +
              (raised ? error_text(raised.get()) : std::string("no error set")));
    }
    return cell.value();
}

}  // namespace quil
