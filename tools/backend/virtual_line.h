// Virtual handsets on the in-process bus, named by the WinUSB driver's instance list
// (followed by a device that is no handset) as on a line PC.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "backend/station_backend.h"
#include "engine/channel_observer.h"
#include "handset/handset_config.h"
#include "handset/virtual_handset.h"
#include "platform/notify/virtual/virtual_bus_notifications.h"
#include "platform/registry/memory/memory_registry.h"
#include "platform/usb/capture/capturing_usb_host.h"
#include "platform/usb/virtual/virtual_usb_bus.h"

namespace backends {

// A WinUSB device that is no handset, listed after the handsets as on a real line PC.
extern const char* const kForeignInstance;

// Writes the WinUSB driver's instance list: "Count" and the ids as values "0", "1", ...
void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids);

// How the seats of a line are worked.
struct LinePlan {
  // Handsets plugged in all, the first on each seat included; up to the seats' count:
  // one handset per seat and no swaps.
  int arrivals = 0;
  uint32_t swapMs = 0;  // the operator's time to take a handset off a seat or put one on
  uint32_t linkSpreadPercent = 0;  // each link within +-P % of its seat's speed
  uint64_t seed = 0;
  // The station runs in batches (Start waits for every handset bound to end and leave):
  // the operator puts fresh handsets on only once every seat is empty, all at once.
  // Else each seat is served on its own, as a continuous run takes them.
  bool batches = true;
};

// One seat's draws: a generator of its own, seeded from the seed and the seat, so a
// rehearsal gives each seat the same handsets whatever the order the seats are served in.
class SeatDraws {
 public:
  SeatDraws(uint64_t seed, int seat);
  // The seat's next handset: its link speed drawn within +-`spreadPercent` % of the seat's,
  // and the seat's faults kept with the seat's failRate (all of them when it gives none).
  handset::HandsetConfig Next(const handset::HandsetConfig& seat, uint32_t spreadPercent);

 private:
  double Uniform();  // [0, 1), the same on every platform
  std::mt19937_64 generator_;
};

// What the operator does and when, on the clock's milliseconds: every action comes one
// swap after what caused it, so actions fall due in the order they were caused.
class SwapSchedule {
 public:
  enum class Act { kUnplug, kPlug };
  struct Action {
    Act act;
    int seat;
  };

  // `seats` handsets are plugged at the start (fewer when `arrivals` is smaller).
  SwapSchedule(int seats, int arrivals, uint32_t swapMs, bool batches);
  // The seat's handset left the bus (after its reset, or taken off): the next is put on
  // one swap later, while arrivals remain; in batches, one swap after the last seat
  // emptied, on every seat.
  void Left(int seat, uint32_t now);
  // The seat's handset failed: it is taken off one swap later, unless it has left by then.
  void Failed(int seat, uint32_t now);
  // The actions due at `now`, in order; each plug counts as an arrival.
  std::vector<Action> Due(uint32_t now);
  // When the next action falls due; nullopt when none waits.
  std::optional<uint32_t> NextAt() const;
  // Every arrival has been plugged, and every one of them has left.
  bool LastEnded() const;
  int Plugged() const { return plugged_; }

 private:
  struct Pending {
    uint32_t at;
    Action action;
  };
  void Put(int seat, uint32_t at);

  const int arrivals_;
  const uint32_t swapMs_;
  const bool batches_;
  int plugged_ = 0;
  std::vector<bool> occupied_;
  std::deque<Pending> pending_;
};

class VirtualLine final : public StationBackend {
 public:
  // A line with no handset yet.
  explicit VirtualLine(platform::Clock& clock);
  ~VirtualLine() override;

  platform::usb::UsbHost& Usb() override { return capture_; }
  platform::notify::DeviceNotifications& Notifications() override { return notifications_; }
  platform::registry::Registry& Registry() override { return registry_; }
  [[nodiscard]] bool StartCapture(const std::string& path, uint32_t snapLength) override {
    return capture_.StartCapture(path, snapLength);
  }
  std::string StopCapture() override { return capture_.StopCapture(); }

  // Any thread: a handset made from `config` is plugged, like a cable, and the instance
  // list names it after the ones before.
  void Plug(const handset::HandsetConfig& config);
  // The handsets plugged so far, in plugging order.
  std::vector<std::shared_ptr<handset::VirtualHandset>> Handsets() const;
  // The handset behind an interface path (case is not significant), or null.
  handset::VirtualHandset* HandsetAt(const std::string& interfacePath) const;
  // Handsets still attached (failed ones) leave the bus; the operator stops first.
  void UnplugAll();

  // The line's seats, one configuration each, and how they are worked; before PlugSeat
  // (a later call changes nothing). A seat without a location is "virtual-<seat + 1>", where each handset
  // plugged there sits. Seats naming one hub share its bandwidth.
  void PlanSeats(std::vector<handset::HandsetConfig> seats, const LinePlan& plan);
  // Any thread: the seat's first handset is plugged; the operator swaps from then on.
  void PlugSeat(int seat);
  // Wraps the observer the station is given, so the operator hears which handsets failed
  // (and takes them off); `inner` must outlive the line's use by the station.
  engine::ChannelObserver* Watching(engine::ChannelObserver* inner);
  // Every arrival of the plan has been plugged, and has ended and left the line.
  bool LastArrivalEnded() const;
  std::optional<HubShare> HubOf(const std::string& location) const override;

 private:
  platform::usb::VirtualUsbBus bus_;  // first: the notifications listen to it
  platform::notify::VirtualBusNotifications notifications_{bus_};
  platform::usb::CapturingUsbHost capture_{bus_};  // what the station uses: it records
  platform::registry::MemoryRegistry registry_;
  platform::Clock& clock_;
  class FailureWatch;
  struct PlugOnSeat {
    int seat = 0;
    const handset::VirtualHandset* handset = nullptr;
  };
  void PlugHandset(const std::shared_ptr<handset::VirtualHandset>& h);
  void PlugDrawn(int seat);
  void OnRemoval(const std::string& name);
  void OnFailed(const std::string& interfacePath);
  void Operate();
  void StopOperator();

  mutable std::mutex mutex_;  // guards handsets_ and the seats' state below
  std::vector<std::shared_ptr<handset::VirtualHandset>> handsets_;
  std::vector<handset::HandsetConfig> seats_;
  bool planned_ = false;
  LinePlan plan_;
  std::vector<SeatDraws> draws_;
  std::vector<int> plugsOnSeat_;
  std::vector<std::shared_ptr<handset::VirtualHandset>> onSeat_;  // the latest of each seat
  std::map<std::string, std::shared_ptr<platform::usb::SharedLink>> hubs_;
  std::map<std::string, PlugOnSeat> seatOfPath_;  // by lower-case path and broadcast name
  std::optional<SwapSchedule> schedule_;
  std::condition_variable wake_;
  bool stop_ = false;
  int listener_ = 0;
  std::unique_ptr<FailureWatch> watch_;
  std::thread operator_;
};

}  // namespace backends
