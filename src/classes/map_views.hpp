// The map views: keys(), values() and items() of HashTrieMap.
#pragma once

#include <Python.h>

#include "bridge/key.hpp"
#include "runtime/outcome.hpp"

namespace quil {

/// The argument of ItemsView membership: a (key, value) 2-tuple, its key hashed.
struct ItemViewQuery {
    Key key;
    PyObject* value;  // borrowed from the tuple

    /// Errors carry the note for the argument "item".
    static Outcome<ItemViewQuery> extract(PyObject* item);
};

/// The METH_NOARGS implementations of HashTrieMap.keys(), values() and items().
Outcome<py::Ref> map_keys(PyObject* self);
Outcome<py::Ref> map_values(PyObject* self);
Outcome<py::Ref> map_items(PyObject* self);

}  // namespace quil
