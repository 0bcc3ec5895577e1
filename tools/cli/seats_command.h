// `ostrevane-cli seats`: the handsets attached now with the port each sits in, and
// `seats --learn FILE`: a seat plan learnt by plugging one handset into each seat in turn.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/time/clock.h"
#include "platform/usb/usb_host.h"

namespace cli {

inline constexpr int kSeatsDone = 0;
inline constexpr int kSeatsNoneLearnt = 1;  // --learn ended before a seat was learnt
inline constexpr int kSeatsRefused = 2;     // arguments refused, the handsets or the file unreachable

bool IsSeatsCommand(const std::string& word);

// On the platform's real handsets; `stopSignals` counts the stop signals so far.
int RunSeatsCommand(const std::vector<std::string>& args, const std::function<int()>& stopSignals,
                    std::ostream& out, std::ostream& err);

// Reaches the handsets once the arguments are accepted; null with `error` set when it cannot.
using UsbSource = std::function<platform::usb::UsbHost*(std::string* error)>;

// `args` from "seats" on. The learning polls the handsets on `clock` until ten seats are
// learnt or a stop signal comes, then writes the plan.
int RunSeats(const std::vector<std::string>& args, const UsbSource& source,
             platform::Clock& clock, const std::function<int()>& stopSignals, std::ostream& out,
             std::ostream& err);

}  // namespace cli
