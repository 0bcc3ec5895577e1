// The cross-thread hand-over of a window's requests.
#include "platform/ui/request_queue.h"

#include <exception>
#include <utility>

namespace ui {

struct RequestQueue::Request {
  std::function<void()> fn;
  bool blocking = false;
  bool done = false;
  bool dropped = false;
  std::exception_ptr error;
};

RequestQueue::RequestQueue() : owner_(std::this_thread::get_id()) {}

RequestQueue::~RequestQueue() {
  Close();
}

bool RequestQueue::Enqueue(const std::shared_ptr<Request>& request) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    queue_.push_back(request);
    // Under the lock, so that no wake-up reaches a backend that Close() has let go.
    if (wakeHandler_) wakeHandler_();
  }
  arrived_.notify_all();
  return true;
}

bool RequestQueue::Invoke(std::function<void()> fn) {
  if (OnOwnerThread()) {
    fn();
    return true;
  }
  auto request = std::make_shared<Request>();
  request->fn = std::move(fn);
  request->blocking = true;
  if (!Enqueue(request)) return false;
  std::unique_lock lock(mutex_);
  served_.wait(lock, [&] { return request->done || request->dropped; });
  if (request->error) std::rethrow_exception(request->error);
  return request->done;
}

void RequestQueue::Post(std::function<void()> fn) {
  auto request = std::make_shared<Request>();
  request->fn = std::move(fn);
  Enqueue(request);
}

void RequestQueue::Serve(const std::shared_ptr<Request>& request) {
  std::exception_ptr error;
  try {
    request->fn();
  } catch (...) {
    if (!request->blocking) throw;
    error = std::current_exception();
  }
  if (!request->blocking) return;
  {
    std::lock_guard lock(mutex_);
    request->error = error;
    request->done = true;
  }
  served_.notify_all();
}

bool RequestQueue::DispatchOne() {
  std::shared_ptr<Request> request;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    request = std::move(queue_.front());
    queue_.pop_front();
  }
  Serve(request);
  return true;
}

bool RequestQueue::WaitDispatchOne(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] { return !queue_.empty() || closed_ || woken_; });
    woken_ = false;
  }
  return DispatchOne();
}

void RequestQueue::Wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  arrived_.notify_all();
}

void RequestQueue::SetWakeHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  wakeHandler_ = std::move(handler);
}

void RequestQueue::Close() {
  std::deque<std::shared_ptr<Request>> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    wakeHandler_ = nullptr;
    dropped.swap(queue_);
    for (auto& r : dropped) r->dropped = true;
  }
  served_.notify_all();
  arrived_.notify_all();
}

size_t RequestQueue::Pending() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

}  // namespace ui
