// Type creation from ClassSpecs, which objects the collector may track (tracking.hpp),
// and the slow paths of guarded instance destruction.
#include "runtime/types.hpp"

#include <vector>

#include "quil/common/panic.hpp"
#include "runtime/attach.hpp"
#include "runtime/tracking.hpp"

namespace quil {

Outcome<py::Ref> create_type(const ClassSpec& spec) {
    std::vector<PyType_Slot> slots;
    if (spec.doc != nullptr) {
        slots.push_back({Py_tp_doc, const_cast<char*>(spec.doc)});
    }
    bool has_new = false;
    for (const PyType_Slot* slot = spec.slots; slot->slot != 0; ++slot) {
        slots.push_back(*slot);
        has_new = has_new || slot->slot == Py_tp_new;
    }
    slots.push_back({Py_tp_base, &PyBaseObject_Type});
    slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)});
    slots.push_back({Py_tp_traverse, reinterpret_cast<void*>(spec.traverse)});
    if (spec.immutable) {
        slots.push_back(
            {Py_tp_token, const_cast<void*>(static_cast<const void*>(&detail::kImmutableClassToken))});
    }
    slots.push_back({0, nullptr});

    PyType_Spec type_spec{};
    type_spec.name = spec.qualified_name;
    type_spec.basicsize = static_cast<int>(spec.basic_size);
    type_spec.itemsize = 0;
    // No BASETYPE (no subclassing), not IMMUTABLETYPE. HAVE_GC, though most instances are
    // never tracked (tracking.hpp).
    type_spec.flags = static_cast<unsigned>(Py_TPFLAGS_HAVE_GC) |
                      (has_new ? 0u : static_cast<unsigned>(Py_TPFLAGS_DISALLOW_INSTANTIATION));
    type_spec.slots = slots.data();
    PyObject* type = PyType_FromSpec(&type_spec);
    if (type == nullptr) {
        return PendingError::fetch();
    }
    return py::Ref::steal(type);
}

namespace detail {

bool may_be_tracked_by_instance(PyObject* object) noexcept {
    if (!PyObject_IS_GC(object)) {
        return false;  // a type whose instances choose (tp_is_gc), and this one declines
    }
    PyTypeObject* type = Py_TYPE(object);
    // The module's classes cannot be subclassed, so the exact type carries the token.
    const bool immutable = type == &PyTuple_Type ||
                           (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE) &&
                            reinterpret_cast<PyHeapTypeObject*>(type)->ht_token ==
                                &kImmutableClassToken);
    return !immutable || PyObject_GC_IsTracked(object) != 0;
}

constinit thread_local DeallocQueue dealloc_queue __attribute__((tls_model("initial-exec")));

void defer_dealloc(PyObject* self) noexcept {
    DeallocQueue& state = dealloc_queue;
    if (state.waiting == nullptr) {
        state.waiting = new std::vector<PyObject*>;
    }
    state.waiting->push_back(self);
}

void drain_deallocs() noexcept {
    DeallocQueue& state = dealloc_queue;
    if (state.draining) {
        return;  // the loop below is already taking them, further up this stack
    }
    // Each waiting object starts a fresh chain from depth 0; objects it queues in turn
    // are taken by this same loop, so the stack never grows with the nesting.
    state.draining = true;
    while (!state.waiting->empty()) {
        PyObject* next = state.waiting->back();
        state.waiting->pop_back();
        Py_TYPE(next)->tp_dealloc(next);
    }
    state.draining = false;
}

}  // namespace detail

}  // namespace quil
