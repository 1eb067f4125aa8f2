// collections.abc, reached one way. The execution step registers the classes with its
// abstract base classes, HashTrieMap's constructor asks whether a value is a Mapping,
// and the set comparisons ask whether `other` is a Set.
//
// Mapping is kept in a cell of the interpreter's state, filled on first use. Everything else is
// imported and read afresh at each use, so that Python code which replaces the module
// or one of its classes is obeyed: a comparison sees the collections.abc.Set of the
// moment.
#pragma once

#include <Python.h>

#include "runtime/outcome.hpp"
#include "runtime/py_ref.hpp"

namespace quil {

/// The collections.abc module, imported afresh (PyImport_Import, as an import statement
/// would, through builtins.__import__).
Outcome<py::Ref> import_collections_abc();

/// The class `name` of a collections.abc module, read afresh from its attributes.
Outcome<py::Ref> abc_class(PyObject* abc_module, const char* name);

/// collections.abc.Mapping (borrowed), from the interpreter's cell. Failing to fill the
/// cell is an internal failure carrying the Python error's text.
PyObject* abc_mapping();

}  // namespace quil
