// A station stand-in for engine tests: it records what the operator would see (log
// text, bar calls, message boxes) and serves the options the workers read.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "engine/download_host.h"
#include "engine/download_mode.h"
#include "engine/engine_tables.h"
#include "engine/run_state.h"
#include "image/image_state.h"

namespace testsupport {

struct ProgressCall {
  int32_t value = 0;
  uint32_t detail = 0;
  std::string label;
};

struct MessageBoxCall {
  std::string text;
  std::string caption;
};

class RecordingHost : public engine::DownloadHost {
 public:
  // The workers wait on `clock`, which must outlive the host.
  explicit RecordingHost(platform::Clock& clock);

  // CommandHost.
  void AppendLogText(const std::string& text) override;
  void ShowProgress(int channel, int32_t value, uint32_t detail, const char* label) override;
  void SetProgressPos(int channel, int32_t pos) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::string SelectedSalesCode() override { return salesCode; }
  void PassedOver(int channel, const std::string& what) override;
  // DownloadHost.
  int GetCheck(int controlId) override;
  const image::ImageState& Image() override { return image; }
  uint32_t DownloadMode() override { return mode; }
  engine::RunState& Run() override { return run; }
  engine::EngineTables& Tables() override { return tables; }
  platform::Clock& Clock() override { return clock_; }
  void ShowDisconnected(int channel) override { ++disconnectShown[channel]; }
  engine::ChannelObserver* Observer() override { return observer; }

  std::string Log() const;
  std::vector<ProgressCall> Progress(int channel) const;
  // Only the values of the channel's ShowProgress calls, in order.
  std::vector<int32_t> ProgressValues(int channel) const;
  std::vector<int32_t> Positions(int channel) const;
  std::vector<MessageBoxCall> Boxes() const;
  // The failures a channel's sequence went on past, in order.
  std::vector<std::string> PassedOverOf(int channel) const;

  // The failure texts shown on a channel's bar, in order.
  std::vector<std::string> FailureTexts(int channel) const;

  image::ImageState image;
  uint32_t mode = engine::DOWNLOAD_MODE_ALL;
  std::array<int, engine::GROUP_COUNT> groupChecks{1, 1, 1, 1, 1};
  std::string salesCode = "XEU";
  engine::RunState run;
  engine::EngineTables tables;
  // How often each channel's bar was told its handset went.
  std::array<std::atomic<int>, engine::kChannelCount> disconnectShown{};
  engine::ChannelObserver* observer = nullptr;  // set before a run; outlives it

 private:
  platform::Clock& clock_;
  mutable std::mutex mutex_;
  std::string log_;
  std::array<std::vector<ProgressCall>, engine::kChannelCount> progress_;
  std::array<std::vector<int32_t>, engine::kChannelCount> positions_;
  std::vector<MessageBoxCall> boxes_;
  std::array<std::vector<std::string>, engine::kChannelCount> passedOver_;
};

}  // namespace testsupport
