// The instance list is written before each plug, so a scan that follows an arrival
// finds the arriving handset listed. The operator is one thread that sleeps on the
// line's clock until its next swap, so a rehearsal runs as fast as its clock.
#include "backend/virtual_line.h"

#include <algorithm>
#include <cmath>

#include "platform/text/ascii.h"

namespace backends {

const char* const kForeignInstance = "USB\\VID_0A5C&PID_21E8\\5&9B4F11&0&4";

void ListInstances(platform::registry::MemoryRegistry& registry,
                   const std::vector<std::string>& ids) {
  using platform::registry::Root;
  using platform::registry::WINUSB_ENUM_KEY;
  registry.CreateKey(Root::kLocalMachine, WINUSB_ENUM_KEY);
  registry.WriteDword(Root::kLocalMachine, WINUSB_ENUM_KEY, "Count",
                      static_cast<uint32_t>(ids.size()));
  for (size_t i = 0; i < ids.size(); ++i)
    registry.SetString(Root::kLocalMachine, WINUSB_ENUM_KEY, std::to_string(i), ids[i]);
}

VirtualLine::VirtualLine(platform::Clock& clock) : bus_(clock), clock_(clock) {}

VirtualLine::~VirtualLine() {
  UnplugAll();
}

void VirtualLine::Plug(const handset::HandsetConfig& config) {
  PlugHandset(std::make_shared<handset::VirtualHandset>(config, clock_));
}

void VirtualLine::PlugHandset(const std::shared_ptr<handset::VirtualHandset>& h) {
  {
    std::lock_guard lock(mutex_);
    handsets_.push_back(h);
    std::vector<std::string> instances;
    for (const auto& each : handsets_) instances.push_back(each->InstanceId());
    instances.push_back(kForeignInstance);
    ListInstances(registry_, instances);
  }
  bus_.Plug(h);  // outside the lock: the arrival is served while it waits
}

std::vector<std::shared_ptr<handset::VirtualHandset>> VirtualLine::Handsets() const {
  std::lock_guard lock(mutex_);
  return handsets_;
}

handset::VirtualHandset* VirtualLine::HandsetAt(const std::string& interfacePath) const {
  const std::string wanted = platform::LowerAscii(interfacePath);
  std::lock_guard lock(mutex_);
  for (const auto& h : handsets_)
    if (platform::LowerAscii(h->InterfacePath()) == wanted) return h.get();
  return nullptr;
}

void VirtualLine::UnplugAll() {
  StopOperator();
  for (const auto& h : Handsets()) bus_.Unplug(h.get());
}

// --- Seats and the operator.

SeatDraws::SeatDraws(uint64_t seed, int seat) {
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32),
                         static_cast<uint32_t>(seat)};
  generator_.seed(sequence);
}

double SeatDraws::Uniform() {
  // The library's distributions differ between standard libraries; 53 bits do not.
  return static_cast<double>(generator_() >> 11) * 0x1.0p-53;
}

handset::HandsetConfig SeatDraws::Next(const handset::HandsetConfig& seat,
                                       uint32_t spreadPercent) {
  // Both draws are always taken, so a seat's failures do not depend on the spread asked.
  const double speed = Uniform();
  const double failure = Uniform();
  handset::HandsetConfig c = seat;
  const uint64_t link = seat.faults.linkBytesPerSecond;
  if (link != 0 && spreadPercent != 0) {
    const double factor = 1.0 + (2.0 * speed - 1.0) * spreadPercent / 100.0;
    c.faults.linkBytesPerSecond = std::max<uint64_t>(1, std::llround(link * factor));
  }
  if (seat.failRate && failure >= *seat.failRate) {
    const uint64_t drawnLink = c.faults.linkBytesPerSecond;
    c.faults = handset::HandsetFaults{};
    c.faults.linkBytesPerSecond = drawnLink;
  }
  return c;
}

SwapSchedule::SwapSchedule(int seats, int arrivals, uint32_t swapMs, bool batches)
    : arrivals_(arrivals),
      swapMs_(swapMs),
      batches_(batches),
      occupied_(static_cast<size_t>(std::max(seats, 0))) {
  for (size_t s = 0; s < occupied_.size() && plugged_ < arrivals_; ++s, ++plugged_)
    occupied_[s] = true;
}

void SwapSchedule::Put(int seat, uint32_t at) {
  // Plugs already waiting count against what remains.
  int waiting = 0;
  for (const Pending& p : pending_) waiting += p.action.act == Act::kPlug ? 1 : 0;
  if (plugged_ + waiting < arrivals_) pending_.push_back({at, {Act::kPlug, seat}});
}

void SwapSchedule::Left(int seat, uint32_t now) {
  if (seat < 0 || static_cast<size_t>(seat) >= occupied_.size() || !occupied_[seat]) return;
  occupied_[seat] = false;
  if (!batches_) {
    Put(seat, now + swapMs_);
    return;
  }
  if (std::any_of(occupied_.begin(), occupied_.end(), [](bool o) { return o; })) return;
  for (size_t s = 0; s < occupied_.size(); ++s) Put(static_cast<int>(s), now + swapMs_);
}

void SwapSchedule::Failed(int seat, uint32_t now) {
  if (seat < 0 || static_cast<size_t>(seat) >= occupied_.size() || !occupied_[seat]) return;
  pending_.push_back({now + swapMs_, {Act::kUnplug, seat}});
}

std::vector<SwapSchedule::Action> SwapSchedule::Due(uint32_t now) {
  std::vector<Action> due;
  // Tick counts wrap: the difference says which comes first.
  while (!pending_.empty() && static_cast<int32_t>(now - pending_.front().at) >= 0) {
    const Action a = pending_.front().action;
    pending_.pop_front();
    if (a.act == Act::kPlug) {
      ++plugged_;
      occupied_[a.seat] = true;
      due.push_back(a);
    } else if (occupied_[a.seat]) {  // else it left by itself meanwhile
      due.push_back(a);
    }
  }
  return due;
}

std::optional<uint32_t> SwapSchedule::NextAt() const {
  if (pending_.empty()) return std::nullopt;
  return pending_.front().at;
}

bool SwapSchedule::LastEnded() const {
  return plugged_ >= arrivals_ && pending_.empty() &&
         std::none_of(occupied_.begin(), occupied_.end(), [](bool o) { return o; });
}

class VirtualLine::FailureWatch final : public engine::ChannelObserver {
 public:
  FailureWatch(VirtualLine& line, engine::ChannelObserver* inner) : line_(line), inner_(inner) {}

  void ChannelStarted(const engine::ChannelStartInfo& info) override {
    {
      std::lock_guard lock(mutex_);
      paths_[info.channel] = info.interfacePath;
    }
    if (inner_) inner_->ChannelStarted(info);
  }
  void ChannelLog(int channel, const std::string& text) override {
    if (inner_) inner_->ChannelLog(channel, text);
  }
  void ChannelPassedOver(int channel, const std::string& what) override {
    if (inner_) inner_->ChannelPassedOver(channel, what);
  }
  void ChannelEnded(int channel, const engine::ChannelEnd& end) override {
    if (inner_) inner_->ChannelEnded(channel, end);
    if (end.done) return;  // a done handset resets and leaves by itself
    std::string path;
    {
      std::lock_guard lock(mutex_);
      path = paths_[channel];
    }
    line_.OnFailed(path);
  }

 private:
  VirtualLine& line_;
  engine::ChannelObserver* const inner_;
  std::mutex mutex_;
  std::map<int, std::string> paths_;
};

void VirtualLine::PlanSeats(std::vector<handset::HandsetConfig> seats, const LinePlan& plan) {
  std::lock_guard lock(mutex_);
  if (planned_) return;  // the seats are bolted down once
  planned_ = true;
  plan_ = plan;
  seats_ = std::move(seats);
  draws_.clear();
  for (size_t s = 0; s < seats_.size(); ++s) {
    handset::HandsetConfig& seat = seats_[s];
    if (seat.location.empty()) (seat.location = "virtual-") += std::to_string(s + 1);
    draws_.emplace_back(plan.seed, static_cast<int>(s));
    if (!seat.hub.empty() && !hubs_.count(seat.hub))
      hubs_[seat.hub] = std::make_shared<platform::usb::SharedLink>(seat.hubBytesPerSecond);
  }
  plugsOnSeat_.assign(seats_.size(), 0);
  onSeat_.assign(seats_.size(), nullptr);
  if (plan.arrivals <= 0) return;
  schedule_.emplace(static_cast<int>(seats_.size()), plan.arrivals, plan.swapMs, plan.batches);
  // After the station's own listener: the next handset's arrival cannot overtake the
  // removal of the last one on its way to the station.
  listener_ = bus_.AddListener(
      [this](platform::usb::BusEvent event, const std::string& path, const std::string&) {
        if (event == platform::usb::BusEvent::kRemoval) OnRemoval(path);
      },
      platform::usb::VirtualUsbBus::ListenerTurn::kAfterOthers);
  operator_ = std::thread([this] { Operate(); });
}

void VirtualLine::PlugSeat(int seat) {
  {
    std::lock_guard lock(mutex_);
    // Seats past the plan's arrivals stay empty.
    if (schedule_ && seat >= plan_.arrivals) return;
  }
  PlugDrawn(seat);
}

void VirtualLine::PlugDrawn(int seat) {
  handset::HandsetConfig config;
  std::shared_ptr<platform::usb::SharedLink> hub;
  {
    std::lock_guard lock(mutex_);
    if (seat < 0 || static_cast<size_t>(seat) >= seats_.size()) return;
    config = draws_[seat].Next(seats_[seat], plan_.linkSpreadPercent);
    const int serial = plugsOnSeat_[seat]++;
    if (serial > 0) {
      // A fresh handset of its own: the instance differs, the port number (after the last
      // '&') stays the seat's.
      const size_t amp = config.instancePart.rfind('&');
      std::string mark = ".";  // appended: GCC 12 at -O3 takes "." + ... for an overlapping copy
      mark += std::to_string(serial);
      config.instancePart = amp == std::string::npos
                                ? config.instancePart + mark
                                : config.instancePart.substr(0, amp) + mark +
                                      config.instancePart.substr(amp);
      if (!config.storageFile.empty()) config.storageFile += mark;
    }
    if (!config.hub.empty()) hub = hubs_[config.hub];
  }
  auto h = std::make_shared<handset::VirtualHandset>(config, clock_);
  h->ShareLink(hub);
  {
    std::lock_guard lock(mutex_);
    // Removals are heard by their broadcast name, failures by the interface path.
    seatOfPath_[platform::LowerAscii(h->InterfacePath())] = {seat, h.get()};
    seatOfPath_[platform::LowerAscii(h->Identity().broadcastName)] = {seat, h.get()};
    onSeat_[seat] = h;
  }
  PlugHandset(h);
}

void VirtualLine::OnRemoval(const std::string& name) {
  std::lock_guard lock(mutex_);
  auto it = seatOfPath_.find(platform::LowerAscii(name));
  // Only the seat's latest handset leaving frees the seat.
  if (it == seatOfPath_.end() || !schedule_ || onSeat_[it->second.seat].get() != it->second.handset)
    return;
  schedule_->Left(it->second.seat, clock_.TickCount());
  wake_.notify_all();
}

void VirtualLine::OnFailed(const std::string& interfacePath) {
  std::lock_guard lock(mutex_);
  auto it = seatOfPath_.find(platform::LowerAscii(interfacePath));
  if (it == seatOfPath_.end() || !schedule_ || onSeat_[it->second.seat].get() != it->second.handset)
    return;
  schedule_->Failed(it->second.seat, clock_.TickCount());
  wake_.notify_all();
}

void VirtualLine::Operate() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    const uint32_t now = clock_.TickCount();
    const std::vector<SwapSchedule::Action> due = schedule_->Due(now);
    if (!due.empty()) {
      std::vector<std::shared_ptr<handset::VirtualHandset>> off;
      for (const auto& a : due)
        if (a.act == SwapSchedule::Act::kUnplug) off.push_back(onSeat_[a.seat]);
      lock.unlock();
      // Outside the lock: the removal and the arrival are heard on this thread.
      size_t next = 0;
      for (const auto& a : due) {
        if (a.act == SwapSchedule::Act::kUnplug)
          bus_.Unplug(off[next++].get());
        else
          PlugDrawn(a.seat);
      }
      lock.lock();
      continue;
    }
    const std::optional<uint32_t> at = schedule_->NextAt();
    if (!at) {
      wake_.wait(lock);
      continue;
    }
    // Whatever is caused meanwhile falls due after this one: no wake is missed.
    const uint32_t wait = static_cast<uint32_t>(std::max<int32_t>(0, static_cast<int32_t>(*at - now)));
    lock.unlock();
    clock_.Sleep(wait);
    lock.lock();
  }
}

void VirtualLine::StopOperator() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (operator_.joinable()) operator_.join();
  if (listener_ != 0) bus_.RemoveListener(listener_);
  listener_ = 0;
}

engine::ChannelObserver* VirtualLine::Watching(engine::ChannelObserver* inner) {
  watch_ = std::make_unique<FailureWatch>(*this, inner);
  return watch_.get();
}

bool VirtualLine::LastArrivalEnded() const {
  std::lock_guard lock(mutex_);
  return schedule_ && schedule_->LastEnded();
}

std::optional<HubShare> VirtualLine::HubOf(const std::string& location) const {
  std::lock_guard lock(mutex_);
  for (const auto& seat : seats_)
    if (seat.location == location && !seat.hub.empty())
      return HubShare{seat.hub, seat.hubBytesPerSecond};
  return std::nullopt;
}

}  // namespace backends
