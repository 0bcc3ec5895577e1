// The new thread sets its own priority before its body runs, so one std::thread type
// serves every caller, as on Linux. A refused priority leaves the thread as it is.
#include "platform/thread/win32/win32_thread_service.h"

#include <windows.h>

#include <memory>
#include <utility>

namespace platform {

int CurrentThreadPriority() {
  return GetThreadPriority(GetCurrentThread());
}

std::thread Win32ThreadService::Start(ThreadPriority priority, std::function<void()> body) {
  return std::thread([priority, body = std::move(body)] {
    // Windows does not pass the starter's priority on: normal is set, not inherited.
    (void)SetThreadPriority(GetCurrentThread(), priority == ThreadPriority::Highest
                                                    ? THREAD_PRIORITY_HIGHEST
                                                    : THREAD_PRIORITY_NORMAL);
    body();
  });
}

std::unique_ptr<ThreadService> MakeSystemThreadService() {
  return std::make_unique<Win32ThreadService>();
}

}  // namespace platform
