// Requests that other threads hand to the thread owning a window: blocking ones (the
// caller waits until the owner has served them, like a sent window message) and posted
// ones (the caller goes on). The owner serves them one at a time, in arrival order.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace ui {

class RequestQueue {
 public:
  // The constructing thread owns the queue.
  RequestQueue();
  ~RequestQueue();
  RequestQueue(const RequestQueue&) = delete;
  RequestQueue& operator=(const RequestQueue&) = delete;

  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  // Runs `fn` on the owner thread and waits for it; on the owner thread it runs at once.
  // Returns false, without running it, once the queue is closed. An exception thrown by
  // `fn` reaches the caller.
  bool Invoke(std::function<void()> fn);
  // Queues `fn` for the owner thread (even when called there) and returns.
  void Post(std::function<void()> fn);

  // Owner thread: serves one waiting request; false when none waited.
  bool DispatchOne();
  // Owner thread: waits up to `timeout` for a request and serves it.
  bool WaitDispatchOne(std::chrono::milliseconds timeout);
  // Wakes a WaitDispatchOne without a request.
  void Wake();

  // Called on the requesting thread, with the queue locked, after each request is
  // queued, so that a backend with its own event loop can schedule DispatchOne. It must
  // not call back into the queue.
  void SetWakeHandler(std::function<void()> handler);

  // Refuses further requests and releases the waiting callers without running theirs.
  void Close();
  size_t Pending() const;

 private:
  struct Request;
  bool Enqueue(const std::shared_ptr<Request>& request);
  void Serve(const std::shared_ptr<Request>& request);

  const std::thread::id owner_;
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::condition_variable served_;
  std::deque<std::shared_ptr<Request>> queue_;
  std::function<void()> wakeHandler_;
  bool closed_ = false;
  bool woken_ = false;
};

}  // namespace ui
