// The engine values held inline by the Python objects of each class family.
#pragma once

#include "quil/list/list.hpp"
#include "quil/queue.hpp"
#include "quil/stack.hpp"
#include "runtime/py_heap.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// List, and the stack and queue halves: one strong reference per element.
using ListValue = PersistentList<py::HeldRef, PyHeap>;

/// Stack: its list, top first. The same memory form as ListValue, so a Stack object is
/// laid out like a List object.
using StackValue = PersistentStack<py::HeldRef, PyHeap>;
static_assert(sizeof(StackValue) == sizeof(ListValue));

/// Queue: rear_list (newest first) and front_list (oldest first).
using QueueValue = PersistentQueue<py::HeldRef, PyHeap>;

}  // namespace quil
