// How a channel's failure reaches the operator, the same way wherever it was judged:
// its log text, its failure text on the bar, the pause, and a message box if it needs one.
#pragma once

#include <string>
#include <utility>

#include "engine/failure_reason.h"
#include "protocol/command_channel.h"

namespace protocol {

struct FailureNotice {
  FailureNotice(engine::FailureReason why, std::string logText, std::string barText,
                bool waitAfter = true, std::string caption = {}, std::string partitionName = {})
      : reason(why),
        log(std::move(logText)),
        bar(std::move(barText)),
        wait(waitAfter),
        boxCaption(std::move(caption)),
        partition(std::move(partitionName)) {}

  // What the channel's record counts; the texts are for the operator and may be reworded.
  engine::FailureReason reason;
  std::string log;  // appended to the log as it stands (with its own "\r\n" where it has one)
  std::string bar;  // the bar's failure text, cut to FAILURE_TEXT_SIZE - 1 bytes
  bool wait;        // then FAILURE_WAIT_MS, so the operator can read the bar
  // Then a message box with the bar text under this caption; none when empty.
  std::string boxCaption;
  std::string partition;  // the partition the texts name, if they name one
};

// Also leaves the notice's reason and partition in ch.failure: the last report is the
// channel's reason.
void ReportFailure(CommandChannel& ch, const FailureNotice& notice);

}  // namespace protocol
