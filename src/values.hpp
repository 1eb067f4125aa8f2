// The engine values held inline by the Python objects of each class family.
#pragma once

#include "frame/py_ref.hpp"
#include "lib/py_heap.hpp"
#include "list/mod.hpp"

namespace quil {

/// List, and the stack and queue halves: one strong reference per element.
using ListValue = PersistentList<py::HeldRef, PyHeap>;

}  // namespace quil
