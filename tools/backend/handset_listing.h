// The handsets attached to a backend right now, with the port each sits in: what
// `ostrevane-cli seats` shows and learns a seat plan from.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/usb/usb_host.h"

namespace backends {

struct AttachedHandset {
  std::string location;  // the port chain ("1-1.4.2"); empty when the backend cannot say
  std::string model;
  std::string deviceType;
  std::string interfacePath;
};

// Opens every handset interface present as the station's binding would, asks its identity
// and gives it back, so nothing stays open; paths in `known` are passed over. Sorted in
// port order.
std::vector<AttachedHandset> ListAttachedHandsets(platform::usb::UsbHost& usb,
                                                  const std::set<std::string>& known = {});

// The interface paths of every handset present now, of both kinds.
std::vector<std::string> PresentHandsetPaths(platform::usb::UsbHost& usb);

// Port order: the location's numbers compared as numbers, so 1-1.10 comes after 1-1.9.
bool PortOrderLess(const std::string& a, const std::string& b);

}  // namespace backends
