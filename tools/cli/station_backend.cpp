// The virtual line of handsets that the CLI plugs before the station starts.
#include "cli/station_backend.h"

#include "demo/virtual_line.h"
#include "platform/text/ascii.h"

namespace cli {

VirtualLine::VirtualLine(const std::vector<handset::HandsetConfig>& configs, platform::Clock& clock)
    : bus_(clock) {
  std::vector<std::string> instances;
  for (const auto& config : configs) {
    handsets_.push_back(std::make_shared<handset::VirtualHandset>(config, clock));
    instances.push_back(handsets_.back()->InstanceId());
    bus_.Plug(handsets_.back());
  }
  instances.push_back(demo::kForeignInstance);
  demo::ListInstances(registry_, instances);
}

VirtualLine::~VirtualLine() {
  UnplugAll();
}

handset::VirtualHandset* VirtualLine::HandsetAt(const std::string& interfacePath) const {
  const std::string wanted = platform::LowerAscii(interfacePath);
  for (const auto& h : handsets_)
    if (platform::LowerAscii(h->InterfacePath()) == wanted) return h.get();
  return nullptr;
}

void VirtualLine::UnplugAll() {
  for (const auto& h : handsets_) bus_.Unplug(h.get());
}

}  // namespace cli
