// PersistentQueue: the two lists, the reversal rule, persistence of sources, and the
// iteration cursor that builds its array only when it reaches rear_list.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "quil/queue.hpp"
#include "support/tracked.hpp"

namespace quil {
namespace {

using testing::CountingHeap;
using testing::Tracked;
using Queue = PersistentQueue<Tracked, CountingHeap>;
using List = Queue::List;

std::vector<int> contents(const Queue& queue) {
    std::vector<int> out;
    auto cursor = queue.cursor();
    while (const Tracked* element = cursor.next()) {
        out.push_back(element->value());
    }
    return out;
}

std::vector<int> contents(const List& list) {
    std::vector<int> out;
    for (const Tracked& element : list) {
        out.push_back(element.value());
    }
    return out;
}

Queue enqueued(std::initializer_list<int> values) {
    Queue queue;
    for (int value : values) {
        queue.enqueue_in_place(Tracked(value));
    }
    return queue;
}

void check(const Queue& queue) {
    queue.check_invariants([](const Tracked& a, const Tracked& b) { return a.same_as(b); });
}

class QueueTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(Tracked::live(), 0u);
        EXPECT_EQ(CountingHeap::live_blocks, 0u);
    }
};

TEST_F(QueueTest, EmptyQueueHasNothingToPeekOrDequeue) {
    Queue queue;
    check(queue);
    EXPECT_TRUE(queue.is_empty());
    EXPECT_EQ(queue.peek(), nullptr);
    EXPECT_FALSE(queue.dequeue().has_value());
    EXPECT_FALSE(queue.dequeue_in_place());
    EXPECT_EQ(queue.cursor().next(), nullptr);
}

TEST_F(QueueTest, EnqueuedElementsWaitInRearListAndPeekReadsItsLast) {
    Queue queue = Queue().enqueue(Tracked(1)).enqueue(Tracked(2)).enqueue(Tracked(3));
    check(queue);
    EXPECT_TRUE(queue.front_list().is_empty());
    EXPECT_EQ(contents(queue.rear_list()), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(queue.peek()->value(), 1);
    EXPECT_TRUE(queue.peek()->same_as(*queue.rear_list().last()));
    EXPECT_EQ(contents(queue), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(queue.len(), 3u);
}

TEST_F(QueueTest, FirstDequeueReversesRearListAndLeavesTheSource) {
    Queue source = enqueued({1, 2, 3});
    const std::size_t before = CountingHeap::allocations;
    auto dequeued = source.dequeue();
    ASSERT_TRUE(dequeued.has_value());
    // One new node per element of rear_list; the node of 1 is made and dropped again.
    EXPECT_EQ(CountingHeap::allocations - before, 3u);
    check(*dequeued);
    check(source);
    EXPECT_EQ(contents(dequeued->front_list()), (std::vector<int>{2, 3}));
    EXPECT_TRUE(dequeued->rear_list().is_empty());
    EXPECT_EQ(source.peek()->value(), 1);
    EXPECT_EQ(contents(source), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(contents(source.rear_list()), (std::vector<int>{3, 2, 1}));

    // Enqueuing after the reversal starts a new rear_list.
    Queue more = dequeued->enqueue(Tracked(4));
    check(more);
    EXPECT_EQ(contents(more.front_list()), (std::vector<int>{2, 3}));
    EXPECT_EQ(contents(more.rear_list()), (std::vector<int>{4}));
    EXPECT_EQ(contents(more), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(more.peek()->value(), 2);
}

TEST_F(QueueTest, OneElementQueuePeeksItFromEitherList) {
    Queue in_rear = enqueued({7});
    Queue in_front = *enqueued({6, 7}).dequeue();
    ASSERT_TRUE(in_rear.front_list().is_empty());
    ASSERT_TRUE(in_front.rear_list().is_empty());
    for (const Queue* queue : {&in_rear, &in_front}) {
        EXPECT_EQ(queue->peek()->value(), 7);
        auto empty = queue->dequeue();
        ASSERT_TRUE(empty.has_value());
        check(*empty);
        EXPECT_TRUE(empty->is_empty());
        EXPECT_EQ(empty->peek(), nullptr);
    }
}

TEST_F(QueueTest, DequeueWithFrontListElementsSharesBothListsAndAllocatesNothing) {
    Queue source = enqueued({1, 2, 3}).dequeue()->enqueue(Tracked(4));
    const std::size_t before = CountingHeap::allocations;
    Queue rest = source.rest();
    EXPECT_EQ(CountingHeap::allocations, before);
    check(rest);
    check(source);
    EXPECT_EQ(contents(rest), (std::vector<int>{3, 4}));
    EXPECT_EQ(contents(source), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(rest.front_list().first(), source.front_list().last());
    EXPECT_EQ(rest.rear_list().first(), source.rear_list().first());
    EXPECT_TRUE(Queue().rest().is_empty());
}

TEST_F(QueueTest, DequeuingTwiceFromOneSourceRepeatsTheReversalWithEqualResults) {
    Queue source = enqueued({1, 2, 3, 4});
    const std::size_t before = CountingHeap::allocations;
    Queue a = *source.dequeue();
    Queue b = *source.dequeue();
    EXPECT_EQ(CountingHeap::allocations - before, 8u);
    EXPECT_EQ(contents(a), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(contents(b), contents(a));
    EXPECT_TRUE(a.peek()->same_as(*b.peek()));
    EXPECT_EQ(contents(source), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(QueueTest, ChainOfDequeuesYieldsEnqueueOrderAndReversesEachElementOnce) {
    // Interleaved enqueues and dequeues, each on the previous result, against a model;
    // every older version stays alive until the end, so all nodes are shared when a
    // reversal copies them.
    std::mt19937 random(12345);
    std::deque<int> model;
    std::vector<Queue> versions{Queue()};
    std::size_t enqueued_count = 0;
    std::size_t dequeue_allocations = 0;
    for (int step = 0; step < 2000; ++step) {
        const Queue& current = versions.back();
        if (random() % 3 != 0) {
            model.push_back(step);
            versions.push_back(current.enqueue(Tracked(step)));
            ++enqueued_count;
        } else {
            const std::size_t before = CountingHeap::allocations;
            auto next = current.dequeue();
            dequeue_allocations += CountingHeap::allocations - before;
            ASSERT_EQ(next.has_value(), !model.empty());
            if (!next) {
                continue;
            }
            model.pop_front();
            versions.push_back(std::move(*next));
        }
        const Queue& latest = versions.back();
        check(latest);
        ASSERT_EQ(latest.len(), model.size());
        if (!model.empty()) {
            ASSERT_EQ(latest.peek()->value(), model.front());
        }
    }
    EXPECT_LE(dequeue_allocations, enqueued_count);
    EXPECT_EQ(contents(versions.back()), std::vector<int>(model.begin(), model.end()));
    // Draining the last version one dequeue at a time gives the model's order and ends
    // empty, still without reversing anything twice.
    Queue queue = versions.back();
    std::vector<int> drained;
    while (const Tracked* oldest = queue.peek()) {
        drained.push_back(oldest->value());
        queue = *queue.dequeue();
    }
    EXPECT_EQ(drained, std::vector<int>(model.begin(), model.end()));
    EXPECT_TRUE(queue.is_empty());
}

TEST_F(QueueTest, CursorBuildsItsArrayOnlyWhenItReachesRearList) {
    Queue queue = enqueued({1, 2, 3}).dequeue()->enqueue(Tracked(4)).enqueue(Tracked(5));
    ASSERT_EQ(contents(queue.front_list()), (std::vector<int>{2, 3}));
    ASSERT_EQ(contents(queue.rear_list()), (std::vector<int>{5, 4}));
    const std::size_t before = CountingHeap::allocations;
    {
        auto abandoned = queue.cursor();
        EXPECT_EQ(abandoned.next()->value(), 2);
        EXPECT_EQ(abandoned.next()->value(), 3);
        EXPECT_FALSE(abandoned.reached_rear());
    }
    EXPECT_EQ(CountingHeap::allocations, before);

    auto cursor = queue.cursor();
    EXPECT_EQ(cursor.remaining(), 4u);
    cursor.next();
    cursor.next();
    EXPECT_EQ(cursor.next()->value(), 4);
    EXPECT_TRUE(cursor.reached_rear());
    EXPECT_EQ(CountingHeap::allocations, before + 1);
    EXPECT_EQ(cursor.remaining(), 1u);
    // A started cursor keeps its place when moved (iterator objects move theirs).
    auto moved = std::move(cursor);
    EXPECT_EQ(moved.next()->value(), 5);
    EXPECT_EQ(moved.next(), nullptr);
    EXPECT_EQ(moved.next(), nullptr);
    EXPECT_EQ(cursor.next(), nullptr);
}

TEST_F(QueueTest, WalkOfAQueueWithoutRearListAllocatesNothing) {
    Queue queue = *enqueued({1, 2, 3}).dequeue();
    const std::size_t before = CountingHeap::allocations;
    EXPECT_EQ(contents(queue), (std::vector<int>{2, 3}));
    EXPECT_EQ(CountingHeap::allocations, before);
}

}  // namespace
}  // namespace quil
