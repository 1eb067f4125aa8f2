// The walk over what one version of the hash trie holds alone (TrieMap::visit_owned): the
// ground a garbage collector's traversal stands on, where each reference must be reported
// by one holder at most however many versions share the node that keeps it. The essay at
// the top of trie.hpp ("Ownership") says why the rule below is exact.
#pragma once

#include "quil/common/memory.hpp"
#include "quil/trie/node.hpp"

namespace quil::detail {

/// Calls `visit(entry)` on every entry under `slot` that the holder of `slot` holds alone,
/// and returns the first nonzero result (0 when there is none). `slot` must be a handle
/// its holder has to itself: the record's root, or a child slot of a node held alone. A
/// block is held alone when its count is 1, its one handle being `slot`; the walk leaves
/// out every block of a higher count and everything below it. A null slot (a removal's
/// transient state, which code run by a release can see) holds nothing.
///
/// Recursion follows the branches, so it is at most 11 calls deep; a bucket's list is a
/// loop. Allocates nothing and changes no count.
/// Note: a branch is read through its slots in [0, len). A change of branch form has to
/// give this walk every child slot, and count any block it adds between a branch and its
/// children (a group, say) like any other: held alone only at count 1.
template <class K, class V, Heap H, class Visit>
int visit_owned(const NodeRef<K, V, H>& slot, Visit& visit) {
    if (slot.is_null() || slot.use_count() != 1) {
        return 0;
    }
    if (slot.is_entry()) {
        return visit(*slot.entry());
    }
    if (slot.is_collision()) {
        // A bucket's list holds each entry through its node alone (the list's `last`
        // borrows the final one), so an entry is held alone at count 1.
        return slot.collision()->list.visit_owned(
            [&visit](const EntryWithHash<K, V, H>& element, bool /*is_final*/) {
                return element.entry().use_count() == 1 ? visit(element.entry()) : 0;
            });
    }
    const auto& branch = *slot.branch();
    const NodeRef<K, V, H>* children = branch.slots();
    for (unsigned r = 0; r < branch.len; ++r) {
        if (const int result = visit_owned(children[r], visit); result != 0) {
            return result;
        }
    }
    return 0;
}

}  // namespace quil::detail
