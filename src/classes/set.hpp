// HashTrieSet's operations that the view family shares (views' algebra returns sets).
#pragma once

#include <Python.h>

#include "classes/map.hpp"
#include "runtime/outcome.hpp"

namespace quil {

/// Wraps `set` in a new HashTrieSet object (the record's references move in).
Outcome<py::Ref> new_set_object(SetValue set);

/// Whether `object` is a HashTrieSet (or a subtype).
bool is_set_object(PyObject* object);

/// The engine value of a HashTrieSet object.
const SetValue& set_value(PyObject* set_object);

}  // namespace quil
