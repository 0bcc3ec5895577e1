// One reader thread, a handful of blocks passed back and forth under one lock: the lock
// is held only to move blocks, never across a read.
#include "image/read_ahead.h"

#include <algorithm>

namespace image {

ReadAheadStream::ReadAheadStream(std::FILE* file, uint64_t length, size_t blockSize,
                                 size_t blockCount)
    : file_(file) {
  blockSize = std::max<size_t>(blockSize, 1);
  blockCount = std::max<size_t>(blockCount, 2);
  // Blocks never grow past the length: a small file costs a small buffer.
  const size_t size =
      static_cast<size_t>(std::min<uint64_t>(blockSize, std::max<uint64_t>(length, 1)));
  spare_.resize(blockCount);
  for (Block& b : spare_) b.bytes.resize(size);
  reader_ = std::thread([this, length] { ReadLoop(length); });
}

ReadAheadStream::~ReadAheadStream() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  reader_.join();
}

void ReadAheadStream::ReadLoop(uint64_t length) {
  uint64_t left = length;
  for (;;) {
    Block block;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return quit_ || !spare_.empty(); });
      if (quit_) break;
      block = std::move(spare_.back());
      spare_.pop_back();
    }
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, block.bytes.size()));
    block.size = want > 0 ? std::fread(block.bytes.data(), 1, want, file_) : 0;
    left -= block.size;
    if (block.size < want) block.end = std::ferror(file_) ? End::kReadError : End::kShort;
    const bool last = left == 0 || block.end != End::kNone;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      filled_.push_back(std::move(block));
      readerDone_ = last;
    }
    changed_.notify_all();
    if (last) break;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  readerDone_ = true;
}

size_t ReadAheadStream::Next(size_t want, const uint8_t** data) {
  for (;;) {
    if (holding_ && taken_ < current_.size) {
      const size_t n = std::min(want, current_.size - taken_);
      *data = current_.bytes.data() + taken_;
      taken_ += n;
      return n;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_) {
      // The block is used up: hand it back for refilling, unless the file ended in it.
      const End end = current_.end;
      current_.size = 0;
      current_.end = End::kNone;
      spare_.push_back(std::move(current_));
      holding_ = false;
      taken_ = 0;
      changed_.notify_all();
      if (end != End::kNone) {
        end_ = end;
        return 0;
      }
    }
    changed_.wait(lock, [this] { return !filled_.empty() || readerDone_; });
    if (filled_.empty()) return 0;  // the whole length has been handed out
    current_ = std::move(filled_.front());
    filled_.pop_front();
    holding_ = true;
  }
}

}  // namespace image
