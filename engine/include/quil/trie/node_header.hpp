// The head of every trie node block (a branch or a collision bucket). Shared by the
// SparseArray and the trie's node model, so that a child slot can tell them apart.
#pragma once

#include <atomic>
#include <cstdint>

namespace quil::detail {

enum class NodeKind : std::uint8_t { kBranch, kCollision };

/// The count sits first, as in every other engine block; the kind byte lets a child
/// slot, which only knows "a node", find out which node it holds.
struct NodeHeader {
    explicit NodeHeader(NodeKind node_kind) noexcept : kind(node_kind) {}
    NodeHeader(const NodeHeader&) = delete;
    NodeHeader& operator=(const NodeHeader&) = delete;

    std::atomic<std::uint64_t> count{1};
    NodeKind kind;
    // Branches only: occupied slots and slots allocated inline after the block's head.
    // They live in the header's padding, which keeps a branch head at 24 bytes.
    std::uint8_t len = 0;
    std::uint8_t capacity = 0;
};

}  // namespace quil::detail
