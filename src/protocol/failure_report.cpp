// The one place a channel failure is shown: log, red bar, pause, optional box.
#include "protocol/failure_report.h"

namespace protocol {

void ReportFailure(CommandChannel& ch, const FailureNotice& notice) {
  ch.failure = {notice.reason, notice.partition};
  ch.host.AppendLogText(notice.log);
  const std::string bar = notice.bar.substr(0, FAILURE_TEXT_SIZE - 1);
  ch.host.ShowProgress(ch.channel, PROGRESS_FAILED, 0, bar.c_str());
  if (notice.wait) ch.clock.Sleep(FAILURE_WAIT_MS);
  if (!notice.boxCaption.empty()) ch.host.MessageBox(bar, notice.boxCaption);
}

}  // namespace protocol
