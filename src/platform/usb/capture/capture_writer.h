// The capture's own thread and the bounded queue that feeds it: transfers hand their
// events over and go on, and the thread writes them to the sink in batches.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/time/clock.h"
#include "platform/usb/capture/capture_sink.h"
#include "platform/usb/capture/pcap_writer.h"

namespace platform::usb {

// How much may wait for the disk. Past `dataBytes` an event is queued without its data
// (its lengths kept); past `events` it is not queued at all.
struct CaptureLimits {
  uint64_t dataBytes = 32ull << 20;
  size_t events = 1u << 18;
};

struct CaptureCounts {
  uint64_t written = 0;          // records in the file
  uint64_t payloadsDropped = 0;  // of those, written without their data: the queue was full
  uint64_t eventsLost = 0;       // not written at all: the queue was full, or writing failed
  bool writeFailed = false;
};

class CaptureWriter {
 public:
  // Writes the file header and starts the thread; throws std::system_error when the
  // thread cannot be started. `maxData`: the most data bytes any event keeps. Events are
  // stamped on `clock`, counted from the wall-clock time of this call.
  CaptureWriter(std::unique_ptr<CaptureSink> sink, uint32_t maxData, CaptureLimits limits,
                Clock& clock);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // Stamps the event and queues it with `keep` bytes of `data`; never waits for the sink.
  // Stamped under the queue's lock, so that the file's order is its time order.
  void Add(UsbmonEvent event, const uint8_t* data, uint32_t keep);
  // Writes everything queued, flushes and ends the thread; later events are ignored.
  CaptureCounts Finish();
  CaptureCounts Counts() const;

 private:
  void Run();
  // Writes one batch; true when the sink took it.
  bool WriteBatch(const std::deque<UsbmonEvent>& batch, std::vector<uint8_t>* bytes);
  uint64_t NowUs();

  std::unique_ptr<CaptureSink> sink_;
  const uint32_t maxData_;
  const CaptureLimits limits_;
  Clock& clock_;
  const uint64_t wallStartUs_;
  const uint64_t clockStartUs_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<UsbmonEvent> queue_;
  uint64_t queuedData_ = 0;  // data bytes queued or being written
  size_t queuedEvents_ = 0;  // events queued or being written
  bool finishing_ = false;
  CaptureCounts counts_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace platform::usb
