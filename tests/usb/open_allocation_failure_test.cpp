// The device open when memory runs out: each allocation it makes fails in turn, and
// every such open ends cleanly, with no handle held and the table as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "handset/virtual_handset.h"
#include "platform/usb/virtual/virtual_usb_bus.h"
#include "support/virtual_station.h"
#include "usb/winusb_device_manager.h"

namespace {

// Allocations on the arming thread are counted; the n-th one fails.
thread_local long t_failAt = 0;
thread_local long t_count = 0;

}  // namespace

// This executable's allocations all go through here, on malloc and free; the compiler
// cannot see that the two pair up.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (t_failAt > 0 && ++t_count == t_failAt) throw std::bad_alloc();
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  return ::operator new(n);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

TEST(DeviceOpenOutOfMemory, EveryFailedAllocationEndsTheOpenCleanly) {
  platform::Clock& clock = testsupport::FastClock();
  platform::usb::VirtualUsbBus bus{clock};
  auto phone = std::make_shared<handset::VirtualHandset>(handset::HandsetConfig{}, clock);
  bus.Plug(phone);
  usb::CWinUSBDeviceManager table{bus};
  const std::string path = phone->InterfacePath();
  int outOfMemory = 0;
  long n = 1;
  for (;; ++n) {
    t_count = 0;
    t_failAt = n;
    const int32_t result = table.OpenDevice(path, 3, 0);
    const bool failedOne = t_count >= n;
    t_failAt = 0;
    if (!failedOne) {
      EXPECT_EQ(result, 0) << "an open with every allocation granted";
      break;
    }
    SCOPED_TRACE(n);
    if (result == usb::E_OUT_OF_MEMORY_RESULT)
      ++outOfMemory;
    else
      EXPECT_EQ(result, 1);
    EXPECT_TRUE(table.Devices().empty());
    EXPECT_TRUE(table.m_listNames.empty());
    EXPECT_EQ(bus.OpenHandleCount(), 0u) << "the set and every handle are given back";
  }
  EXPECT_GT(n, 10) << "the open allocates more than this; the count did not reach it";
  EXPECT_EQ(outOfMemory, 1) << "only the detail buffer's allocation is reported as such";
  ASSERT_EQ(table.Devices().size(), 1u);
  EXPECT_EQ(table.m_listNames.size(), 1u);
  EXPECT_EQ(bus.OpenHandleCount(), 2u);  // the opened device's file and WinUSB handles
  EXPECT_EQ(table.RemoveDevice(phone->InterfacePath()), 3);
  EXPECT_EQ(bus.OpenHandleCount(), 0u);
}

}  // namespace
