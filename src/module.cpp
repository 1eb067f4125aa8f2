// The module definition, its entry point and its execution step.
#include <Python.h>

#include "bridge/abc.hpp"
#include "bridge/classes.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

/// Appends `name` to the module's __all__ (made if missing) and sets the attribute.
Status add_to_module(PyObject* module, const char* name, PyObject* object) {
    py::Ref all = py::Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        PendingError error = PendingError::fetch();
        if (!error.matches(PyExc_AttributeError)) {
            return error;
        }
        all = py::Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return PendingError::fetch();
        }
    } else if (!PyList_Check(all.get())) {
        return type_mismatch(all.get(), "list");
    }
    py::Ref text = py::Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) {
        PyErr_Clear();
        panic("could not append __name__ to __all__");
    }
    if (PyObject_SetAttr(module, text.get(), object) < 0) {
        return PendingError::fetch();
    }
    return Unit{};
}

/// abc.register(type); the result is released unexamined.
Status register_class(PyObject* abc, PyTypeObject* type) {
    static PyObject* const register_name = PyUnicode_InternFromString("register");
    PyObject* args[] = {abc, reinterpret_cast<PyObject*>(type)};
    py::Ref result = py::Ref::steal(PyObject_VectorcallMethod(
        register_name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) {
        return PendingError::fetch();
    }
    return Unit{};
}

/// HashTrieSet as a collections.abc.Set, and the map views as MappingViews and as their
/// namesakes, in that order. The module is imported afresh each time the step runs, and
/// each class read afresh from it.
Status register_set_and_views() {
    auto abc = import_collections_abc();
    if (!abc.ok()) {
        return std::move(abc).take_error();
    }
    struct Registration {
        const char* abc;
        ClassSpec* spec;
    };
    const Registration registrations[] = {
        {"Set", &kHashTrieSetClass},        {"MappingView", &kKeysViewClass},
        {"MappingView", &kValuesViewClass}, {"MappingView", &kItemsViewClass},
        {"KeysView", &kKeysViewClass},      {"ValuesView", &kValuesViewClass},
        {"ItemsView", &kItemsViewClass},
    };
    for (const Registration& entry : registrations) {
        auto type = type_object(*entry.spec);
        if (!type.ok()) {
            return std::move(type).take_error();
        }
        auto base = abc_class(abc.value().get(), entry.abc);
        if (!base.ok()) {
            return std::move(base).take_error();
        }
        if (Status registered = register_class(base.value().get(), type.value());
            !registered.ok()) {
            return registered;
        }
    }
    return Unit{};
}

Status module_exec(PyObject* module) {
    if (!PyModule_Check(module)) {
        return type_mismatch(module, "module");
    }
    // Made here, before any operation can fail, so that raising the first internal
    // failure never has to make it, even with the C stack nearly exhausted.
    (void)panic_exception_type();
    // The public classes, in the order __all__ lists them.
    struct Public {
        const char* name;
        ClassSpec* spec;
    };
    const Public classes[] = {
        {"HashTrieMap", &kHashTrieMapClass},
        {"HashTrieSet", &kHashTrieSetClass},
        {"List", &kListClass},
        {"Stack", &kStackClass},
        {"Queue", &kQueueClass},
    };
    for (const Public& entry : classes) {
        auto type = type_object(*entry.spec);
        if (!type.ok()) {
            return std::move(type).take_error();
        }
        Status added =
            add_to_module(module, entry.name, reinterpret_cast<PyObject*>(type.value()));
        if (!added.ok()) {
            return added;
        }
    }
    // collections.abc.Mapping.register(HashTrieMap), with Mapping from the process-wide cell.
    auto map_type = type_object(kHashTrieMapClass);
    if (!map_type.ok()) {
        return std::move(map_type).take_error();
    }
    if (Status registered = register_class(abc_mapping(), map_type.value()); !registered.ok()) {
        return registered;
    }
    return register_set_and_views();
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, as_slot(&exec_step<module_exec>)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "quil",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace quil

PyMODINIT_FUNC PyInit_quil(void) { return PyModuleDef_Init(&quil::module_definition); }
