// The module definition, its entry point and its execution step.
#include <Python.h>

#include "bridge/classes.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"

namespace quil {

namespace {

constinit OnceCell abc_mapping_cell;

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

/// collections.abc.Mapping.register(HashTrieMap), with Mapping from the process-wide cache.
Status register_mapping() {
    auto type = type_object(kHashTrieMapClass);
    if (!type.ok()) {
        return std::move(type).take_error();
    }
    static PyObject* const register_name = PyUnicode_InternFromString("register");
    PyObject* args[] = {abc_mapping(), reinterpret_cast<PyObject*>(type.value())};
    py::Ref result = py::Ref::steal(PyObject_VectorcallMethod(
        register_name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) {
        return PendingError::fetch();
    }
    return Unit{};
}

/// Calls collections.abc.<abc>.register(cls), reading the attribute afresh.
Status register_with(PyObject* abc_module, const char* abc, ClassSpec& spec) {
    auto type = type_object(spec);
    if (!type.ok()) {
        return std::move(type).take_error();
    }
    py::Ref base = py::Ref::steal(PyObject_GetAttrString(abc_module, abc));
    if (!base) {
        return PendingError::fetch();
    }
    static PyObject* const register_name = PyUnicode_InternFromString("register");
    PyObject* args[] = {base.get(), reinterpret_cast<PyObject*>(type.value())};
    py::Ref result = py::Ref::steal(PyObject_VectorcallMethod(
        register_name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!result) {
        return PendingError::fetch();
    }
    return Unit{};
}

/// HashTrieSet as a collections.abc.Set, and the map views as MappingViews and as their
/// namesakes, in that order. The module is imported afresh each time the step runs.
Status register_set_and_views() {
    py::Ref name = py::Ref::steal(PyUnicode_FromString("collections.abc"));
    py::Ref abc = name ? py::Ref::steal(PyImport_Import(name.get())) : py::Ref();
    if (!abc) {
        return PendingError::fetch();
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
        if (Status registered = register_with(abc.get(), entry.abc, *entry.spec);
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
    if (Status registered = register_mapping(); !registered.ok()) {
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

PyObject* abc_mapping() {
    auto cell = abc_mapping_cell.get_or_init([]() -> Outcome<py::Ref> {
        py::Ref abc = py::Ref::steal(PyImport_ImportModule("collections.abc"));
        py::Ref mapping = abc ? py::Ref::steal(PyObject_GetAttrString(abc.get(), "Mapping"))
                              : py::Ref();
        if (!mapping) {
            return PendingError::fetch();
        }
        return mapping;
    });
    if (!cell.ok()) {
        py::Ref raised = std::move(cell).take_error().into_exception();
        panic("failed to import collections.abc.Mapping: " +
              (raised ? error_text(raised.get()) : std::string("no error set")));
    }
    return cell.value();
}

}  // namespace quil

PyMODINIT_FUNC PyInit_quil(void) { return PyModuleDef_Init(&quil::module_definition); }
