// The message boxes the image checks show the operator; the main window implements
// this, tests record the calls.
#pragma once

#include <string>

namespace image {

class OperatorMessages {
 public:
  virtual ~OperatorMessages() = default;
  // Shows a modal box with an OK button and returns once the operator has answered.
  // An empty caption means the application's title.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;
};

// The operator's texts of the image checks, exactly as the station shows them.
inline constexpr const char* TEXT_UNKNOWN_BINARY = "This is an unknown binary";
inline constexpr const char* TEXT_CSC_DOES_NOT_MATCH =
    "This CSC binary does NOT match KX4 OS binary";
inline constexpr const char* TEXT_CSC_CANNOT_OPEN = "CSC file cannot open\n";
inline constexpr const char* CAPTION_ERROR = " Error!!!";

}  // namespace image
