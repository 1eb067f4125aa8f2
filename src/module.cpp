// The module definition, its entry point and its execution step.
#include <Python.h>

#include <iterator>

#include "bridge/abc.hpp"
#include "bridge/classes.hpp"
#include "runtime/adapters.hpp"
#include "runtime/errors.hpp"
#include "runtime/interpreter.hpp"

namespace quil {

namespace {

/// Every class, at its ClassIndex.
ClassSpec* const kAllClasses[] = {
    &kHashTrieMapClass,
    &kKeysViewClass,
    &kValuesViewClass,
    &kItemsViewClass,
    &kHashTrieSetClass,
    &kListClass,
    &kStackClass,
    &kQueueClass,
    &kKeysIteratorClass,
    &kValuesIteratorClass,
    &kItemsIteratorClass,
    &kSetIteratorClass,
    &kListIteratorClass,
    &kStackIteratorClass,
    &kQueueIteratorClass,
    &kHashTrieMapMutationClass,
    &kHashTrieSetMutationClass,
};
static_assert(std::size(kAllClasses) == kClassCount);

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
    PyObject* args[] = {abc, reinterpret_cast<PyObject*>(type)};
    py::Ref result = py::Ref::steal(
        PyObject_VectorcallMethod(InterpreterState::get().name(MethodName::kRegister), args,
                                  2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
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
        auto base = abc_class(abc.value().get(), entry.abc);
        if (!base.ok()) {
            return std::move(base).take_error();
        }
        if (Status registered = register_class(base.value().get(), type_for_operation(*entry.spec));
            !registered.ok()) {
            return registered;
        }
    }
    return Unit{};
}

/// The first execution in an interpreter makes its state (every type object and the
/// PanicException class, before anything can fail); later ones, a re-import after
/// `del sys.modules["quil"]` included, add the same classes to their new module object.
Status module_exec(PyObject* module) {
    if (!PyModule_Check(module)) {
        return type_mismatch(module, "module");
    }
    auto state = InterpreterState::install(kAllClasses);
    if (!state.ok()) {
        return std::move(state).take_error();
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
        PyObject* type = reinterpret_cast<PyObject*>(type_for_operation(*entry.spec));
        if (Status added = add_to_module(module, entry.name, type); !added.ok()) {
            return added;
        }
    }
    // collections.abc.Mapping.register(HashTrieMap), with Mapping from the interpreter's cell.
    if (Status registered = register_class(abc_mapping(), type_for_operation(kHashTrieMapClass));
        !registered.ok()) {
        return registered;
    }
    return register_set_and_views();
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, as_slot(&exec_step<module_exec>)},
    // Every Python object the module keeps is its interpreter's (InterpreterState), and the
    // rest of its data is thread-local or guarded, so any interpreter, with or without a
    // lock of its own, may load it.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
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
