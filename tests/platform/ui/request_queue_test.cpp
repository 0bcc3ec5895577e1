// Hand-over of requests to the owning thread: waiting, order, closing, errors.
#include "platform/ui/request_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TEST(RequestQueue, InvokeFromAnotherThreadRunsOnOwnerAndWaits) {
  ui::RequestQueue queue;
  const auto owner = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    int value = 0;
    EXPECT_TRUE(queue.Invoke([&] {
      ranOn = std::this_thread::get_id();
      value = 7;
    }));
    EXPECT_EQ(value, 7);  // the caller sees the result once Invoke returns
    returned = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(returned.load());  // nobody served it yet
  while (!returned) queue.WaitDispatchOne(1ms);
  caller.join();
  EXPECT_EQ(ranOn, owner);
}

TEST(RequestQueue, OnOwnerThreadInvokeRunsAtOncePostWaitsForDispatch) {
  ui::RequestQueue queue;
  std::vector<int> order;
  queue.Post([&] { order.push_back(1); });
  queue.Invoke([&] { order.push_back(2); });
  queue.Post([&] { order.push_back(3); });
  EXPECT_EQ(order, (std::vector<int>{2}));
  while (queue.DispatchOne()) {
  }
  EXPECT_EQ(order, (std::vector<int>{2, 1, 3}));
}

TEST(RequestQueue, CloseReleasesWaitingCallersWithoutRunningThem) {
  ui::RequestQueue queue;
  std::atomic<bool> ran{false};
  std::atomic<int> result{-1};
  std::thread caller([&] { result = queue.Invoke([&] { ran = true; }) ? 1 : 0; });
  while (queue.Pending() == 0) std::this_thread::yield();
  queue.Close();
  caller.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(ran.load());
  std::thread late([&] { EXPECT_FALSE(queue.Invoke([&] { ran = true; })); });
  late.join();
  EXPECT_FALSE(ran.load());
}

TEST(RequestQueue, ExceptionReachesTheWaitingCaller) {
  ui::RequestQueue queue;
  std::atomic<bool> caught{false};
  std::thread caller([&] {
    try {
      queue.Invoke([] { throw std::runtime_error("refused"); });
    } catch (const std::runtime_error&) {
      caught = true;
    }
  });
  while (!queue.WaitDispatchOne(1ms)) {
  }
  caller.join();
  EXPECT_TRUE(caught.load());
}

}  // namespace
