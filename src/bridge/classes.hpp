// The module's fifteen classes, one ClassSpec each, defined by the class families.
#pragma once

#include "runtime/types.hpp"

namespace quil {

extern ClassSpec kHashTrieMapClass;  // map.cpp
extern ClassSpec kHashTrieSetClass;  // set.cpp
extern ClassSpec kListClass;         // list.cpp
extern ClassSpec kStackClass;        // stack.cpp
extern ClassSpec kQueueClass;        // queue.cpp
extern ClassSpec kKeysViewClass;     // views.cpp
extern ClassSpec kValuesViewClass;
extern ClassSpec kItemsViewClass;
extern ClassSpec kKeysIteratorClass;  // iterators.cpp
extern ClassSpec kValuesIteratorClass;
extern ClassSpec kItemsIteratorClass;
extern ClassSpec kSetIteratorClass;
extern ClassSpec kListIteratorClass;
extern ClassSpec kStackIteratorClass;
extern ClassSpec kQueueIteratorClass;

/// collections.abc.Mapping, imported once per process. Failing to import it is an
/// internal failure carrying the Python error's text.
PyObject* abc_mapping();

}  // namespace quil
