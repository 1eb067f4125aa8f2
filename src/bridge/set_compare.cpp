// The shared set comparison protocol.
#include "bridge/set_compare.hpp"

#include "quil/common/panic.hpp"

namespace quil {

namespace {

Outcome<py::Ref> abc_set() {
    py::Ref name = py::Ref::steal(PyUnicode_FromString("collections.abc"));
    py::Ref module = name ? py::Ref::steal(PyImport_Import(name.get())) : py::Ref();
    py::Ref set = module ? py::Ref::steal(PyObject_GetAttrString(module.get(), "Set")) : py::Ref();
    if (!set) {
        return PendingError::fetch();
    }
    return set;
}

}  // namespace

Outcome<SetComparison> reduce_set_comparison(PyObject* other, int op, Py_ssize_t size,
                                             bool equality_walks_receiver) {
    if (op < Py_LT || op > Py_GE || op == Py_NE) {
        panic("invalid compareop");
    }
    const SetComparison no{true, false, Containment::kSelfInOther};
    auto abc = abc_set();
    if (!abc.ok()) {
        return std::move(abc).take_error();
    }
    const int is_set = PyObject_IsInstance(other, abc.value().get());
    if (is_set < 0) {
        return PendingError::fetch();
    }
    if (is_set == 0) {
        return no;
    }
    const Py_ssize_t other_size = PyObject_Size(other);
    if (other_size < 0) {
        return PendingError::fetch();
    }
    switch (op) {
        case Py_LT:
            return other_size > size ? SetComparison{false, false, Containment::kSelfInOther} : no;
        case Py_LE:
            return other_size >= size ? SetComparison{false, false, Containment::kSelfInOther}
                                      : no;
        case Py_EQ:
            if (other_size != size) {
                return no;
            }
            return SetComparison{false, false,
                                 equality_walks_receiver ? Containment::kSelfInOther
                                                         : Containment::kOtherInSelf};
        case Py_GT:
            return other_size < size ? SetComparison{false, false, Containment::kOtherInSelf} : no;
        default:  // Py_GE
            return other_size <= size ? SetComparison{false, false, Containment::kOtherInSelf}
                                      : no;
    }
}

Outcome<py::Ref> set_not_equal(PyObject* receiver, PyObject* other) {
    py::Ref equal = py::Ref::steal(PyObject_RichCompare(receiver, other, Py_EQ));
    const int truth = equal ? PyObject_IsTrue(equal.get()) : -1;
    if (truth < 0) {
        return PendingError::fetch();
    }
    return py::Ref::borrow(truth == 0 ? Py_True : Py_False);
}

}  // namespace quil
