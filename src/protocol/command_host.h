// What the handset commands need from the station around them: the shared log, the
// channel's status bar, blocking message boxes and the selected sales code.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

namespace protocol {

// Values of ShowProgress besides percentages: the bar turns red with a failure text, or
// green with the completion text.
inline constexpr int32_t PROGRESS_FAILED = 200;
inline constexpr int32_t PROGRESS_DONE = 300;

// Bounds the formatting of one log text; the log itself cuts a line to its own limit.
inline constexpr size_t LOG_FORMAT_SIZE = 2048;

class CommandHost {
 public:
  virtual ~CommandHost() = default;

  // Appends one formatted log text (it carries its own "\r\n" where it has one).
  virtual void AppendLogText(const std::string& text) = 0;
  // The channel's status bar: a percentage 0..100 with its label, PROGRESS_FAILED with
  // the failure text, or PROGRESS_DONE with the run's milliseconds as `detail`.
  virtual void ShowProgress(int channel, int32_t value, uint32_t detail, const char* label) = 0;
  // The bar's native position (PBM_SETPOS).
  virtual void SetProgressPos(int channel, int32_t pos) = 0;
  // A message box owned by the main window; returns when the operator closed it.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
  // Text of the item selected in the sales-code list.
  virtual std::string SelectedSalesCode() = 0;
  // A failure the sequence goes on past (it has logged its own text where it has one),
  // told to whoever keeps the channel's record, e.g. "CSC.mbn selection refused".
  virtual void PassedOver(int channel, const std::string& what) {
    (void)channel;
    (void)what;
  }

  // printf-style formatting of one log line, then AppendLogText.
  void AppendLog(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

// Formats into at most `capacity` - 1 bytes (the rest is cut, never written past).
std::string FormatBounded(size_t capacity, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace protocol
