#include "sarn/backend/bounded_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using sarn::TryRecvError;
using sarn::TrySendError;

TEST(BoundedQueue, TrySendRefusesWhenFullAndWhenTheReceiverIsGone) {
    auto [tx, rx] = sarn::bounded_queue<int>(2);
    EXPECT_TRUE(tx.try_send(1).has_value());
    EXPECT_TRUE(tx.try_send(2).has_value());
    EXPECT_EQ(tx.try_send(3).error(), TrySendError::Full);
    EXPECT_EQ(rx.try_recv().value(), 1);
    EXPECT_TRUE(tx.try_send(3).has_value());
    rx.close();
    EXPECT_EQ(tx.try_send(4).error(), TrySendError::Closed);
    EXPECT_FALSE(tx.send(5));
}

TEST(BoundedQueue, ReceiverDrainsThenSeesTheClosedQueue) {
    auto [tx, rx] = sarn::bounded_queue<int>(4);
    auto second = tx;  // two producers
    ASSERT_TRUE(tx.send(1));
    tx.close();
    EXPECT_EQ(rx.try_recv().value(), 1);
    EXPECT_EQ(rx.try_recv().error(), TryRecvError::Empty);  // one sender is left
    ASSERT_TRUE(second.send(2));
    second.close();
    EXPECT_EQ(rx.recv(), 2);
    EXPECT_EQ(rx.recv(), std::nullopt);
    EXPECT_EQ(rx.try_recv().error(), TryRecvError::Closed);
}

TEST(BoundedQueue, BlockingSendWaitsForRoomAndWakesWhenTheReceiverGoes) {
    auto [tx, rx] = sarn::bounded_queue<int>(1);
    ASSERT_TRUE(tx.send(1));
    std::atomic<int> state{0};
    std::thread producer([&, sender = std::move(tx)]() mutable {
        state = sender.send(2) ? 1 : -1;
        state = sender.send(3) ? 2 : -2;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(state.load(), 0);  // waiting for room
    EXPECT_EQ(rx.recv(), 1);
    for (int i = 0; i < 200 && state.load() == 0; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(state.load(), 1);
    rx.close();  // the blocked second send gives up
    producer.join();
    EXPECT_EQ(state.load(), -2);
}

}  // namespace
