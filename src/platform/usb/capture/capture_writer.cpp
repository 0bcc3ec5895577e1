// A queue full of events waiting for the disk costs a transfer its payload in the
// capture, never its time: the limits are checked under the lock, nothing waits there.
#include "platform/usb/capture/capture_writer.h"

#include <chrono>

namespace platform::usb {
namespace {

// Flushed at least this often while events come, and after this many unflushed bytes,
// so that a capture read during a run is at most a moment behind.
constexpr uint64_t kFlushIntervalUs = 1'000'000;
constexpr size_t kFlushBytes = 1 << 20;

uint64_t WallClockUs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace

CaptureWriter::CaptureWriter(std::unique_ptr<CaptureSink> sink, uint32_t maxData,
                             CaptureLimits limits, Clock& clock)
    : sink_(std::move(sink)),
      maxData_(maxData),
      limits_(limits),
      clock_(clock),
      wallStartUs_(WallClockUs()),
      clockStartUs_(clock.MicrosecondCount()),
      thread_([this] { Run(); }) {}

CaptureWriter::~CaptureWriter() {
  Finish();
}

uint64_t CaptureWriter::NowUs() {
  return wallStartUs_ + (clock_.MicrosecondCount() - clockStartUs_);
}

void CaptureWriter::Add(UsbmonEvent event, const uint8_t* data, uint32_t keep) {
  std::lock_guard lock(mutex_);
  if (finishing_) return;
  if (queuedEvents_ >= limits_.events) {
    ++counts_.eventsLost;
    return;
  }
  if (keep > 0 && queuedData_ + keep > limits_.dataBytes) {
    ++counts_.payloadsDropped;
    keep = 0;
  }
  if (keep > 0) event.data.assign(data, data + keep);
  event.stampUs = NowUs();
  queuedData_ += keep;
  ++queuedEvents_;
  queue_.push_back(std::move(event));
  if (queue_.size() == 1) wake_.notify_one();  // the thread waits only on an empty queue
}

bool CaptureWriter::WriteBatch(const std::deque<UsbmonEvent>& batch, std::vector<uint8_t>* bytes) {
  bytes->clear();
  for (const UsbmonEvent& e : batch) AppendPcapRecord(e, bytes);
  return sink_->Write(bytes->data(), bytes->size());
}

void CaptureWriter::Run() {
  std::vector<uint8_t> bytes = PcapFileHeader(maxData_);
  bool ok = sink_->Write(bytes.data(), bytes.size());
  size_t unflushed = bytes.size();
  uint64_t lastFlushUs = NowUs();
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
    if (queue_.empty()) break;  // finishing, and all written
    std::deque<UsbmonEvent> batch;
    batch.swap(queue_);
    uint64_t batchData = 0;
    for (const UsbmonEvent& e : batch) batchData += e.data.size();
    lock.unlock();
    ok = ok && WriteBatch(batch, &bytes);
    unflushed += bytes.size();
    const uint64_t now = NowUs();
    if (ok && (unflushed >= kFlushBytes || now - lastFlushUs >= kFlushIntervalUs)) {
      ok = sink_->Flush();
      unflushed = 0;
      lastFlushUs = now;
    }
    lock.lock();
    queuedData_ -= batchData;
    queuedEvents_ -= batch.size();
    if (ok) {
      counts_.written += batch.size();
    } else {
      counts_.eventsLost += batch.size();
      counts_.writeFailed = true;
    }
  }
  lock.unlock();
  const bool flushed = sink_->Flush();
  lock.lock();
  if (!ok || !flushed) counts_.writeFailed = true;
}

CaptureCounts CaptureWriter::Finish() {
  {
    std::lock_guard lock(mutex_);
    finishing_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
  return Counts();
}

CaptureCounts CaptureWriter::Counts() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

}  // namespace platform::usb
