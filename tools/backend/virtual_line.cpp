// The instance list is written before each plug, so a scan that follows an arrival
// finds the arriving handset listed.
#include "backend/virtual_line.h"

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
  auto h = std::make_shared<handset::VirtualHandset>(config, clock_);
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
  for (const auto& h : Handsets()) bus_.Unplug(h.get());
}

}  // namespace backends
