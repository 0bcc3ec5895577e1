// The process-wide thread service, installed the way the process-wide clock is.
#include "platform/thread/thread_service.h"

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/thread/posix/posix_thread_service.h"

namespace platform {

namespace {
std::mutex g_serviceMutex;
std::shared_ptr<ThreadService> g_service;           // guarded by g_serviceMutex
std::atomic<ThreadService*> g_serviceRaw{nullptr};  // fast path for readers
}  // namespace

ThreadService& DefaultThreadService() {
  if (ThreadService* s = g_serviceRaw.load(std::memory_order_acquire)) return *s;
  std::lock_guard lock(g_serviceMutex);
  if (!g_service) {
    g_service = std::make_shared<PosixThreadService>();
    g_serviceRaw.store(g_service.get(), std::memory_order_release);
  }
  return *g_service;
}

void SetDefaultThreadService(std::shared_ptr<ThreadService> service) {
  std::lock_guard lock(g_serviceMutex);
  // The previous service is kept for the process: a caller may still be inside Start.
  static std::vector<std::shared_ptr<ThreadService>> retired;
  if (g_service) retired.push_back(g_service);
  g_service = service ? std::move(service) : std::make_shared<PosixThreadService>();
  g_serviceRaw.store(g_service.get(), std::memory_order_release);
}

}  // namespace platform
