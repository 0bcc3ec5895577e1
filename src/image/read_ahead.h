// A read-ahead stream over an open file: a second thread fills large blocks while the
// caller takes small pieces out of them, so reading overlaps the caller's work.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace image {

class ReadAheadStream {
 public:
  enum class End {
    kNone,       // more bytes are coming (or the length was reached)
    kShort,      // the file ended before `length` bytes
    kReadError,  // the system reported a read error
  };

  // Reads `length` bytes from the file's current position on a thread of its own, at most
  // `blockCount` blocks of `blockSize` bytes ahead of the caller. The file must not be used
  // by anyone else until the stream is destroyed; it is not closed.
  ReadAheadStream(std::FILE* file, uint64_t length, size_t blockSize = 256 * 1024,
                  size_t blockCount = 4);
  // Stops and waits for the reading thread, also in the middle of the file.
  ~ReadAheadStream();
  ReadAheadStream(const ReadAheadStream&) = delete;
  ReadAheadStream& operator=(const ReadAheadStream&) = delete;

  // The next up to `want` bytes, valid until the next call. Returns the count: 0 when
  // nothing more comes (then `Ended()` says why), fewer than `want` only at a block's end.
  [[nodiscard]] size_t Next(size_t want, const uint8_t** data);
  End Ended() const { return end_; }

 private:
  struct Block {
    std::vector<uint8_t> bytes;
    size_t size = 0;
    End end = End::kNone;  // set on the last block the reader delivers
  };
  void ReadLoop(uint64_t length);

  std::FILE* file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> filled_;  // in file order, oldest first
  std::vector<Block> spare_;  // emptied blocks for the reader to refill
  bool quit_ = false;         // the caller is gone
  bool readerDone_ = false;   // no more blocks will be filled
  Block current_;             // the block the caller is taking pieces from
  bool holding_ = false;      // current_ is a block out of filled_
  size_t taken_ = 0;          // bytes of current_ already handed out
  End end_ = End::kNone;
  std::thread reader_;
};

}  // namespace image
