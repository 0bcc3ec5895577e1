// Workers are joined, never terminated: when the wait ends each started worker has
// finished (a handset that stops answering ends its worker through the pipe timeouts).
#include "engine/run_controller.h"

#include <array>
#include <system_error>
#include <thread>

#include "engine/channel_worker.h"
#include "protocol/handset_flags.h"
#include "platform/thread/thread_service.h"

namespace engine {
namespace {

ChannelStartInfo StartInfo(const usb::CWinUSBFlashDevice& device) {
  ChannelStartInfo info;
  info.channel = device.m_nChannel;
  if (device.m_pHandleInfo) {
    info.port = device.m_pHandleInfo->portNumber;
    info.location = device.m_pHandleInfo->location;
    info.interfacePath = device.m_pHandleInfo->interfacePath;
  }
  info.model = device.m_strModelName;
  info.deviceInfo = device.m_strDeviceInfo;
  info.deviceType = device.m_strDeviceType;
  info.securityMode = device.m_nSecurityMode;
  return info;
}

// The device the table has bound to `channel`, if any.
std::shared_ptr<usb::CWinUSBFlashDevice> DeviceOn(usb::CWinUSBDeviceManager& table, int channel) {
  for (const auto& device : table.Devices())
    if (device->m_nChannel == channel) return device;
  return nullptr;
}

}  // namespace

void RunDownload(RunHost& host) {
  if (host.RunInProgress().exchange(true)) return;
  // Claimed first, asked second: a close that misses the claim is seen here.
  if (!host.MayStartRun()) {
    host.RunInProgress() = false;
    host.RunEnded();
    return;
  }
  host.EnableStart(false);
  host.DisableControlsForRun();
  host.Tables().ResetEngineState();
  RunState& run = host.Run();
  const bool continuous = host.Continuous();
  if (continuous) host.AppendLogText(host.ContinuousNotice());

  for (int c = 0; c < kChannelCount; ++c)
    if (run.DevicePresent[c] == 0) host.ResetBar(c, "");

  std::array<ChannelContext, kChannelCount> contexts{};
  std::array<std::thread, kChannelCount> workers;
  std::array<bool, kChannelCount> started{};
  int startedCount = 0;
  int endedCount = 0;  // continuous mode: workers joined, and starts that failed
  auto start = [&](int c, const std::shared_ptr<usb::CWinUSBFlashDevice>& device) {
    host.ResetBar(c, "Download Start !!!");
    // A finished flag left from an earlier run would end this run's wait early.
    run.ChannelFinished[c] = 0;
    started[c] = true;
    ++startedCount;
    if (ChannelObserver* observer = host.Observer()) {
      ChannelStartInfo info = StartInfo(*device);
      info.seat = host.SeatLabel(c);
      observer->ChannelStarted(info);
    }
    try {
      run.ChannelThread[c] = 1;
      workers[c] = host.Threads().Start(platform::ThreadPriority::Highest,
                                        [ctx = &contexts[c]] { ChannelWorker(ctx); });
    } catch (const std::system_error&) {
      // Counted as finished and failed, so the wait cannot hang on it.
      run.ChannelThread[c] = 0;
      run.ChannelFailed[c] = 1;
      run.ChannelFinished[c] = 1;
      ++endedCount;
      if (ChannelObserver* observer = host.Observer())
        observer->ChannelEnded(c, {false, FailureReason::kThreadStart, {}, 0});
    }
  };
  for (const auto& device : host.DeviceTable().Devices()) {
    const int c = device->m_nChannel;
    if (c < 0 || c >= kChannelCount) continue;
    contexts[c] = ChannelContext{&host, c, device};
    if (run.DevicePresent[c] != 1 || run.ChannelRunning[c] != 0 || started[c]) continue;
    // A count smaller than the handsets bound at Start holds for them too.
    if (continuous && !host.TakesArrivals(startedCount)) continue;
    start(c, device);
  }

  if (continuous) {
    bool takesArrivals = true;
    for (;;) {
      // Once refused, for good: a close or the count reached is not taken back.
      takesArrivals = takesArrivals && host.TakesArrivals(startedCount);
      bool leaving = false;
      for (int c = 0; c < kChannelCount; ++c) {
        if (workers[c].joinable() && run.ChannelThread[c] == 0) {
          workers[c].join();
          ++endedCount;
        }
        // A handset this run wrote that has not left yet; a fresh arrival has its finished
        // flag cleared by its binding, so it is not waited for.
        if (started[c] && !workers[c].joinable() && run.DevicePresent[c] == 1 &&
            run.ChannelFinished[c] == 1 && run.ChannelFailed[c] != 1)
          leaving = true;
        if (!takesArrivals || workers[c].joinable()) continue;
        // A fresh arrival: bound since its channel's last handset ended and left.
        if (run.DevicePresent[c] != 1 || run.ChannelFinished[c] != 0 || run.ChannelRunning[c] != 0)
          continue;
        std::shared_ptr<usb::CWinUSBFlashDevice> device = DeviceOn(host.DeviceTable(), c);
        if (!device) continue;
        // A new handset: nothing the channel's last one left may decide for it.
        host.Tables().Handset[c] = protocol::HandsetFlags{};
        run.ChannelFailed[c] = 0;
        contexts[c] = ChannelContext{&host, c, device};
        start(c, device);
        if (!takesArrivals || !host.TakesArrivals(startedCount)) takesArrivals = false;
      }
      if (!takesArrivals && endedCount == startedCount && !leaving) break;
      host.WaitForMessage(1);
    }
  } else {
    for (;;) {
      int pending = 0;
      int finished = 0;
      for (int c = 0; c < kChannelCount; ++c) {
        if (run.ChannelFailed[c] != 1) pending += run.DevicePresent[c];
        // Only this run's channels: a stale flag of another channel must not count.
        if (started[c]) finished += run.ChannelFinished[c];
      }
      if (pending == 0 && finished == startedCount) break;
      // One message per pass, taken as soon as it comes: ten workers wait on the window
      // for every log line, so a fixed 1 ms sleep between messages would hold them up.
      host.WaitForMessage(1);
    }
  }

  // A worker's last acts may still need the window (its closing log line): keep serving
  // until each has cleared its thread flag, then join.
  auto workerAlive = [&] {
    for (int c = 0; c < kChannelCount; ++c)
      if (workers[c].joinable() && run.ChannelThread[c] != 0) return true;
    return false;
  };
  while (workerAlive()) host.WaitForMessage(1);
  for (int c = 0; c < kChannelCount; ++c) {
    if (workers[c].joinable()) workers[c].join();
    run.ChannelThread[c] = 0;
  }
  host.RunInProgress() = false;
  host.UpdateOptionControls();
  host.RunEnded();
}

}  // namespace engine
