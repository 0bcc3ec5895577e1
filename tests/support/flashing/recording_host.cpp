// Recording of the operator-visible calls, guarded for ten workers at once.
#include "support/flashing/recording_host.h"

namespace testsupport {

RecordingHost::RecordingHost(platform::Clock& clock) : clock_(clock) {
  tables.ResetEngineState();
}

void RecordingHost::AppendLogText(const std::string& text) {
  std::lock_guard lock(mutex_);
  log_ += text;
}

void RecordingHost::ShowProgress(int channel, int32_t value, uint32_t detail, const char* label) {
  std::lock_guard lock(mutex_);
  progress_.at(channel).push_back({value, detail, label ? label : ""});
}

void RecordingHost::SetProgressPos(int channel, int32_t pos) {
  std::lock_guard lock(mutex_);
  positions_.at(channel).push_back(pos);
}

void RecordingHost::MessageBox(const std::string& text, const std::string& caption) {
  std::lock_guard lock(mutex_);
  boxes_.push_back({text, caption});
}

void RecordingHost::PassedOver(int channel, const std::string& what) {
  std::lock_guard lock(mutex_);
  passedOver_.at(static_cast<size_t>(channel)).push_back(what);
}

int RecordingHost::GetCheck(int controlId) {
  const int i = controlId - engine::GROUP_CHECK_FIRST_ID;
  return i >= 0 && i < engine::GROUP_COUNT ? groupChecks[i] : 0;
}

std::string RecordingHost::Log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

std::vector<ProgressCall> RecordingHost::Progress(int channel) const {
  std::lock_guard lock(mutex_);
  return progress_.at(channel);
}

std::vector<int32_t> RecordingHost::ProgressValues(int channel) const {
  std::vector<int32_t> out;
  for (const auto& p : Progress(channel)) out.push_back(p.value);
  return out;
}

std::vector<int32_t> RecordingHost::Positions(int channel) const {
  std::lock_guard lock(mutex_);
  return positions_.at(channel);
}

std::vector<MessageBoxCall> RecordingHost::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> RecordingHost::PassedOverOf(int channel) const {
  std::lock_guard lock(mutex_);
  return passedOver_.at(static_cast<size_t>(channel));
}

std::vector<std::string> RecordingHost::FailureTexts(int channel) const {
  std::vector<std::string> out;
  for (const auto& p : Progress(channel))
    if (p.value == protocol::PROGRESS_FAILED) out.push_back(p.label);
  return out;
}

}  // namespace testsupport
