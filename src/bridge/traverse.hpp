// What the cyclic garbage collector sees of the module's objects: the references each
// engine record holds alone, through the engine's visit_owned (the essay in
// quil/trie/trie.hpp, Ownership, says why that keeps the collector's arithmetic exact
// when versions share nodes), and the tp_traverse every class is given.
#pragma once

#include <Python.h>

#include <type_traits>

#include "bridge/key.hpp"
#include "bridge/records.hpp"
#include "runtime/types.hpp"

namespace quil {

/// The collector's visit function with its argument: reports references as Py_VISIT does.
class Visitor {
public:
    Visitor(visitproc visit, void* arg) noexcept : visit_(visit), arg_(arg) {}

    /// Reports one reference to `object` (nothing for null). A nonzero result ends the
    /// traversal and is its result.
    int operator()(PyObject* object) const noexcept {
        return object != nullptr ? visit_(object, arg_) : 0;
    }

private:
    visitproc visit_;
    void* arg_;
};

/// A map's or a set's record (a view's too): the key object, and a map's value, of every
/// entry it holds alone.
template <class V>
int visit_references(const TrieMap<Key, V, SipHash13Hasher, PyHeap>& record,
                     Visitor visit) noexcept {
    return record.visit_owned([&visit](const auto& entry) {
        if (const int result = visit(entry.key().object()); result != 0) {
            return result;
        }
        if constexpr (std::is_same_v<V, py::HeldRef>) {
            return visit(entry.value().get());
        } else {
            return 0;
        }
    });
}

/// A list's record: the element of every node it holds alone (its `last` borrows the
/// final node's element and is no reference of its own).
inline int visit_references(const ListRecord& list, Visitor visit) noexcept {
    return list.visit_owned(
        [&visit](const py::HeldRef& element, bool /*is_final*/) { return visit(element.get()); });
}

inline int visit_references(const StackRecord& stack, Visitor visit) noexcept {
    return visit_references(stack.list(), visit);
}

inline int visit_references(const QueueRecord& queue, Visitor visit) noexcept {
    if (const int result = visit_references(queue.front_list(), visit); result != 0) {
        return result;
    }
    return visit_references(queue.rear_list(), visit);
}

/// tp_traverse of a class whose instances hold a Payload: the instance's type (a heap
/// type, which each instance holds a reference to), then what visit_references reports of
/// the payload; a class family with a payload of its own gives it an overload beside it.
/// Not a call frame: it attaches nothing and drains no deferred releases, since a
/// traversal runs no Python code. It allocates nothing either.
template <class Payload>
int traverse_instance(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    return visit_references(payload_of<Payload>(self), Visitor(visit, arg));
}

}  // namespace quil
