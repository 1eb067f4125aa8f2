// The shared set comparison protocol.
#include "bridge/set_compare.hpp"

#include "bridge/abc.hpp"
#include "quil/common/panic.hpp"

namespace quil {

Outcome<SetVerdict> reduce_set_comparison(PyObject* other, int op, Py_ssize_t size,
                                          bool equality_walks_receiver) {
    if (op < Py_LT || op > Py_GE || op == Py_NE) {
        panic("invalid compareop");
    }
    auto abc = import_collections_abc();
    if (!abc.ok()) {
        return std::move(abc).take_error();
    }
    auto set_class = abc_class(abc.value().get(), "Set");
    if (!set_class.ok()) {
        return std::move(set_class).take_error();
    }
    const int is_set = PyObject_IsInstance(other, set_class.value().get());
    if (is_set < 0) {
        return PendingError::fetch();
    }
    if (is_set == 0) {
        return SetVerdict::kFalse;
    }
    const Py_ssize_t other_size = PyObject_Size(other);
    if (other_size < 0) {
        return PendingError::fetch();
    }
    switch (op) {
        case Py_LT:
            return other_size > size ? SetVerdict::kReceiverWithinOther : SetVerdict::kFalse;
        case Py_LE:
            return other_size >= size ? SetVerdict::kReceiverWithinOther : SetVerdict::kFalse;
        case Py_EQ:
            if (other_size != size) {
                return SetVerdict::kFalse;
            }
            return equality_walks_receiver ? SetVerdict::kReceiverWithinOther
                                           : SetVerdict::kOtherWithinReceiver;
        case Py_GT:
            return other_size < size ? SetVerdict::kOtherWithinReceiver : SetVerdict::kFalse;
        default:  // Py_GE
            return other_size <= size ? SetVerdict::kOtherWithinReceiver : SetVerdict::kFalse;
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
