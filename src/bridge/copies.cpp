// DeepCopier: copy.deepcopy reached from the collections' __deepcopy__.
#include "bridge/copies.hpp"

namespace quil {

namespace {

/// The exact types copy.deepcopy returns unexamined, before it reads the memo, that
/// collections hold most often. (It knows more: functions, types, ranges and so on go
/// through the call.)
bool copies_to_itself(PyObject* object) noexcept {
    PyTypeObject* type = Py_TYPE(object);
    return type == &PyUnicode_Type || type == &PyLong_Type || type == &PyFloat_Type ||
           type == &PyBool_Type || type == &PyComplex_Type || type == &PyBytes_Type ||
           object == Py_None;
}

}  // namespace

Outcome<DeepCopier> DeepCopier::make(PyObject* memo) {
    py::Ref name = py::Ref::steal(PyUnicode_FromString("copy"));
    py::Ref module = name ? py::Ref::steal(PyImport_Import(name.get())) : py::Ref();
    py::Ref deepcopy =
        module ? py::Ref::steal(PyObject_GetAttrString(module.get(), "deepcopy")) : py::Ref();
    if (!deepcopy) {
        return PendingError::fetch();
    }
    py::Ref shared = memo == Py_None ? py::Ref::steal(PyDict_New()) : py::Ref::borrow(memo);
    if (!shared) {
        return PendingError::fetch();
    }
    return DeepCopier(std::move(deepcopy), std::move(shared));
}

Outcome<py::Ref> DeepCopier::copy(PyObject* element) {
    if (copies_to_itself(element)) [[likely]] {
        return py::Ref::borrow(element);
    }
    PyObject* args[] = {element, memo_.get()};
    py::Ref copied = py::Ref::steal(PyObject_Vectorcall(deepcopy_.get(), args, 2, nullptr));
    if (!copied) {
        return PendingError::fetch();
    }
    return copied;
}

Outcome<py::Ref> DeepCopier::memoized(PyObject* self) {
    py::Ref id = py::Ref::steal(PyLong_FromVoidPtr(self));
    if (!id) {
        return PendingError::fetch();
    }
    if (PyDict_CheckExact(memo_.get())) [[likely]] {
        // What memo[id] answers, without making the KeyError for a miss.
        PyObject* found = nullptr;
        if (PyDict_GetItemRef(memo_.get(), id.get(), &found) < 0) {
            return PendingError::fetch();
        }
        return py::Ref::steal(found);
    }
    py::Ref found = py::Ref::steal(PyObject_GetItem(memo_.get(), id.get()));
    if (!found) {
        PendingError error = PendingError::fetch();
        if (!error.matches(PyExc_KeyError)) {
            return error;
        }
    }
    return found;
}

}  // namespace quil
