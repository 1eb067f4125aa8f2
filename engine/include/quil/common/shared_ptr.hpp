// SharedPtr: the counted handle through which list nodes are owned and shared between
// versions; its count policy is the Heap's (common/counts.hpp).
//
// A block is a 32-bit count followed by one payload; a handle is one pointer (null
// means "absent"). Blocks reachable through more than one handle are never written:
// writers go through make_writable, which copies a shared payload first.
#pragma once

#include <cstdint>
#include <utility>

#include "quil/common/counts.hpp"
#include "quil/common/memory.hpp"

namespace quil {

template <class T, Heap H = SystemHeap>
class SharedPtr {
    using Counts = typename H::Counts;

    struct Block {
        template <class... Args>
        explicit Block(Args&&... args) : payload(std::forward<Args>(args)...) {}
        typename Counts::Count count{1};
        T payload;
    };

public:
    using element_type = T;

    /// The absent handle.
    SharedPtr() noexcept = default;

    /// A new block with count 1.
    template <class... Args>
    static SharedPtr make(Args&&... args) {
        return SharedPtr(heap_new<Block, H>(std::forward<Args>(args)...));
    }

    /// Clone: one more count on the same block.
    SharedPtr(const SharedPtr& other) noexcept : block_(other.block_) {
        if (block_ != nullptr) {
            Counts::retain(block_->count);
        }
    }
    SharedPtr(SharedPtr&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    SharedPtr& operator=(const SharedPtr& other) noexcept {
        SharedPtr(other).swap(*this);
        return *this;
    }
    SharedPtr& operator=(SharedPtr&& other) noexcept {
        SharedPtr(std::move(other)).swap(*this);
        return *this;
    }
    ~SharedPtr() { reset(); }

    /// Release: the owner whose release brings the count to 0 destroys the payload.
    void reset() noexcept {
        if (Block* block = std::exchange(block_, nullptr);
            block != nullptr && Counts::release_is_last(block->count)) {
            heap_delete<Block, H>(block);
        }
    }
    void swap(SharedPtr& other) noexcept { std::swap(block_, other.block_); }

    explicit operator bool() const noexcept { return block_ != nullptr; }
    T* get() const noexcept { return block_ != nullptr ? &block_->payload : nullptr; }
    T& operator*() const noexcept { return block_->payload; }
    T* operator->() const noexcept { return &block_->payload; }

    /// The count is exactly 1.
    bool unique() const noexcept { return Counts::is_unique(block_->count); }
    std::uint64_t use_count() const noexcept {
        return block_ != nullptr ? Counts::load(block_->count) : 0;
    }
    bool same_block(const SharedPtr& other) const noexcept { return block_ == other.block_; }

    /// Copy on write for a handle held in a slot the caller may overwrite: returns the
    /// payload itself when the handle is unique; otherwise puts a new block holding a
    /// shallow copy (T's copy constructor) into the slot, releases the old handle and
    /// returns the copy. The other holders keep the old block unchanged.
    static T& make_writable(SharedPtr& slot) {
        if (!slot.unique()) {
            slot = make(std::as_const(*slot));
        }
        return *slot;
    }

    /// Gives up `handle`: moves the payload out when it was the only handle (the block
    /// is freed), and otherwise returns a shallow copy and drops one count.
    static T take_or_copy(SharedPtr&& handle) {
        SharedPtr owned(std::move(handle));
        if (owned.unique()) {
            Block* block = std::exchange(owned.block_, nullptr);
            T payload(std::move(block->payload));
            heap_delete<Block, H>(block);
            return payload;
        }
        return T(std::as_const(*owned));
    }

    /// Releases `handle`. When it was the last owner, `last_rites(payload)` runs before
    /// the payload is destroyed and its block freed (so a chain can hand over its tail
    /// and be freed by a loop), and the result is true.
    template <class F>
    static bool release_with(SharedPtr&& handle, F&& last_rites) noexcept {
        Block* block = std::exchange(handle.block_, nullptr);
        if (block == nullptr) {
            return false;
        }
        // A unique handle cannot gain owners behind our back (cloning needs a handle),
        // so the only owner frees without an atomic read-modify-write.
        if (!Counts::is_unique(block->count) && !Counts::release_is_last(block->count)) {
            return false;
        }
        last_rites(block->payload);
        heap_delete<Block, H>(block);
        return true;
    }

private:
    explicit SharedPtr(Block* block) noexcept : block_(block) {}

    Block* block_ = nullptr;
};

}  // namespace quil
