// A capture file through stdio with a large buffer: the writing thread hands it whole
// batches of records, and flushes only now and then.
#include "platform/usb/capture/capture_sink.h"
#include "platform/file/file.h"

#include <cstdio>

namespace platform::usb {
namespace {

constexpr size_t kFileBuffer = 1 << 20;

class FileSink final : public CaptureSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {
    std::setvbuf(file_, nullptr, _IOFBF, kFileBuffer);
  }
  ~FileSink() override { std::fclose(file_); }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  bool Write(const uint8_t* data, size_t size) override {
    return std::fwrite(data, 1, size, file_) == size;
  }
  bool Flush() override { return std::fflush(file_) == 0; }

 private:
  std::FILE* file_;
};

}  // namespace

std::unique_ptr<CaptureSink> CreateCaptureFile(const std::string& path) {
  std::FILE* file = file::Open(path, "wb").release();
  if (!file) return nullptr;
  return std::make_unique<FileSink>(file);
}

}  // namespace platform::usb
