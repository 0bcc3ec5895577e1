// A handset already attached when the learning starts is no seat: the order it was
// plugged in is not known, and the order is the whole point of the plan.
#include "cli/seats_command.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <memory>
#include <set>

#include "backend/handset_listing.h"
#include "backend/station_backend.h"
#include "console/seat_plan.h"
#include "platform/file/file.h"
#include "platform/text/escaped_text.h"

namespace cli {
namespace {

using platform::EscapedText;

constexpr uint32_t kPollMs = 250;

std::string Described(const backends::AttachedHandset& h) {
  return (h.location.empty() ? std::string("(location unknown)") : EscapedText(h.location)) +
         "  " + EscapedText(h.model) + "  " + EscapedText(h.deviceType);
}

int Learn(const std::string& path, const std::vector<std::string>& labels,
          platform::usb::UsbHost& usb, platform::Clock& clock,
          const std::function<int()>& stopSignals, std::ostream& out, std::ostream& err) {
  std::set<std::string> known;
  for (const std::string& p : backends::PresentHandsetPaths(usb)) known.insert(p);
  if (!known.empty())
    out << known.size() << " handset(s) attached already are no seat; unplug them to learn their ports\n";
  out << "Plug one handset into seat 1, then one into each next seat in turn; Ctrl-C writes "
         "the plan.\n";
  console::SeatPlan plan;
  auto stopped = [&] { return stopSignals && stopSignals() > 0; };
  while (plan.seats.size() < console::kMaxSeats && !stopped()) {
    // Unplugged handsets are forgotten, so one plugged again elsewhere is seen again.
    std::set<std::string> present;
    for (const std::string& p : backends::PresentHandsetPaths(usb))
      if (known.count(p) > 0) present.insert(p);
    known.swap(present);
    for (const backends::AttachedHandset& h : backends::ListAttachedHandsets(usb, known)) {
      known.insert(h.interfacePath);
      if (plan.seats.size() >= console::kMaxSeats) break;
      if (h.location.empty()) {
        out << "a handset at a port this platform cannot name was left out: " << Described(h) << "\n";
        continue;
      }
      if (plan.ChannelAt(h.location) >= 0) continue;  // a seat learnt already, plugged again
      const size_t n = plan.seats.size();
      plan.seats.push_back({h.location, n < labels.size() ? labels[n] : std::string()});
      out << "seat " << n + 1 << (plan.seats.back().label.empty() ? "" : " (" + EscapedText(labels[n]) + ")")
          << ": " << Described(h) << "\n";
    }
    if (plan.seats.size() < console::kMaxSeats) clock.Sleep(kPollMs);
  }
  if (plan.seats.empty()) {
    err << "ostrevane-cli seats: no seat learnt; " << path << " not written\n";
    return kSeatsNoneLearnt;
  }
  std::ofstream file(platform::file::NativePath(path), std::ios::binary | std::ios::trunc);
  file << console::SeatPlanJson(plan);
  file.close();
  if (!file) {
    err << "ostrevane-cli seats: cannot write " << path << "\n";
    return kSeatsRefused;
  }
  out << plan.seats.size() << " seat(s) written to " << path << "\n";
  return kSeatsDone;
}

}  // namespace

bool IsSeatsCommand(const std::string& word) { return word == "seats"; }

int RunSeats(const std::vector<std::string>& args, const UsbSource& source,
             platform::Clock& clock, const std::function<int()>& stopSignals, std::ostream& out,
             std::ostream& err) {
  CLI::App app{"The handsets attached now: location (the USB port chain), model and device "
               "type, in port order.\nWith --learn: plug one handset into each seat in turn, "
               "seat 1 first; each new location\nbecomes the next seat, and the plan is written "
               "when ten are learnt or at Ctrl-C.\nExit status: 0 done, 1 no seat learnt, 2 "
               "refused.",
               "ostrevane-cli seats"};
  app.allow_windows_style_options(false);
  std::string learn;
  std::vector<std::string> labels;
  auto* learnOption =
      app.add_option("--learn", learn, "Learn a seat plan and write it to FILE")->option_text("FILE");
  app.add_option("--labels", labels, "The seats' labels in seat order, comma-separated")
      ->option_text("A1,A2,...")
      ->delimiter(',')
      ->needs(learnOption);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend() - 1);
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? kSeatsDone : kSeatsRefused;
  }
  if (labels.size() > console::kMaxSeats) {
    err << "ostrevane-cli seats: " << labels.size() << " labels, at most "
        << console::kMaxSeats << "\n";
    return kSeatsRefused;
  }
  if (std::set<std::string>(labels.begin(), labels.end()).size() != labels.size()) {
    err << "ostrevane-cli seats: a label is named twice in --labels\n";
    return kSeatsRefused;
  }
  std::string error;
  platform::usb::UsbHost* host = source(&error);
  if (!host) {
    err << "ostrevane-cli seats: " << error << "\n";
    return kSeatsRefused;
  }
  platform::usb::UsbHost& usb = *host;
  if (!learn.empty()) return Learn(learn, labels, usb, clock, stopSignals, out, err);
  const auto handsets = backends::ListAttachedHandsets(usb);
  if (handsets.empty()) {
    out << "no handset attached\n";
    return kSeatsDone;
  }
  for (const backends::AttachedHandset& h : handsets) out << Described(h) << "\n";
  return kSeatsDone;
}

int RunSeatsCommand(const std::vector<std::string>& args, const std::function<int()>& stopSignals,
                    std::ostream& out, std::ostream& err) {
  platform::SystemClock clock;
  std::unique_ptr<backends::StationBackend> backend;
  auto source = [&](std::string* error) -> platform::usb::UsbHost* {
    backend = backends::MakeRealBackend(clock, error);
    return backend ? &backend->Usb() : nullptr;
  };
  return RunSeats(args, source, clock, stopSignals, out, err);
}

}  // namespace cli
