// One setter per field name, so every field is named once and an unknown name is an
// error instead of a handset that silently differs from what the file says.
#include "demo/handset_config_json.h"

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <type_traits>

#include "handset/virtual_handset.h"
#include "platform/text/ascii.h"

namespace demo {
namespace {

using handset::HandsetConfig;
using nlohmann::json;
using Setter = std::function<void(HandsetConfig&, const json&)>;

struct WrongType {};

// Numbers must fit their field: a 300 must not become an endpoint 44.
template <typename T>
T Convert(const json& v) {
  if constexpr (std::is_same_v<T, bool>) {
    if (!v.is_boolean()) throw WrongType{};
    return v.get<bool>();
  } else if constexpr (std::is_integral_v<T>) {
    if (!v.is_number_unsigned() || v.get<uint64_t>() > std::numeric_limits<T>::max())
      throw WrongType{};
    return static_cast<T>(v.get<uint64_t>());
  } else {
    if (!v.is_string()) throw WrongType{};
    return v.get<std::string>();
  }
}

template <typename Owner, typename T>
Setter Field(Owner& (*part)(HandsetConfig&), T Owner::*member) {
  return [part, member](HandsetConfig& c, const json& v) { part(c).*member = Convert<T>(v); };
}
HandsetConfig& Whole(HandsetConfig& c) {
  return c;
}
handset::HandsetFaults& Faults(HandsetConfig& c) {
  return c.faults;
}
platform::usb::OpenFaults& OpenFaults(HandsetConfig& c) {
  return c.openFaults;
}

// A string, or null for "the platform reports none".
Setter OptionalText(std::optional<std::string> HandsetConfig::*member) {
  return [member](HandsetConfig& c, const json& v) {
    c.*member = v.is_null() ? std::nullopt : std::optional<std::string>(Convert<std::string>(v));
  };
}

void ApplyObject(const json& object, const std::map<std::string, Setter>& setters, HandsetConfig& c,
                 const std::string& where) {
  if (!object.is_object()) throw std::invalid_argument(where + " must be an object");
  for (const auto& [name, value] : object.items()) {
    auto setter = setters.find(name);
    if (setter == setters.end())
      throw std::invalid_argument(where + ": unknown field \"" + name + "\"");
    try {
      setter->second(c, value);
    } catch (const WrongType&) {
      throw std::invalid_argument(where + ": field \"" + name + "\" has a value of the wrong type");
    } catch (const json::exception&) {
      throw std::invalid_argument(where + ": field \"" + name + "\" has a value of the wrong type");
    }
  }
}

const std::map<std::string, Setter>& FaultSetters() {
  using F = handset::HandsetFaults;
  static const std::map<std::string, Setter> setters = {
      {"nakDataPacket", Field(Faults, &F::nakDataPacket)},
      {"nakTimes", Field(Faults, &F::nakTimes)},
      {"staleAnswerAt", Field(Faults, &F::staleAnswerAt)},
      {"dropAnswerAt", Field(Faults, &F::dropAnswerAt)},
      {"answerNothing", Field(Faults, &F::answerNothing)},
      {"answerDelayMs", Field(Faults, &F::answerDelayMs)},
      {"disconnectAfterTransfers", Field(Faults, &F::disconnectAfterTransfers)},
      {"linkBytesPerSecond", Field(Faults, &F::linkBytesPerSecond)},
  };
  return setters;
}

const std::map<std::string, Setter>& OpenFaultSetters() {
  using F = platform::usb::OpenFaults;
  static const std::map<std::string, Setter> setters = {
      {"enumInterfaceError", Field(OpenFaults, &F::enumInterfaceError)},
      {"detailSizeError", Field(OpenFaults, &F::detailSizeError)},
      {"detailError", Field(OpenFaults, &F::detailError)},
      {"openError", Field(OpenFaults, &F::openError)},
      {"initializeError", Field(OpenFaults, &F::initializeError)},
      {"querySettingsFails", Field(OpenFaults, &F::querySettingsFails)},
  };
  return setters;
}

void SetKind(HandsetConfig& c, const json& v) {
  const std::string kind = Convert<std::string>(v);
  if (kind != "platform" && kind != "vendor") throw WrongType{};
  c.kind = kind == "vendor" ? handset::HandsetKind::kVendor : handset::HandsetKind::kPlatform;
}

void SetEndpoints(HandsetConfig& c, const json& v) {
  if (!v.is_array()) throw WrongType{};
  std::vector<platform::usb::EndpointDescriptor> endpoints;
  for (const json& e : v)
    endpoints.push_back({Convert<uint8_t>(e.at("type")), Convert<uint8_t>(e.at("address"))});
  c.endpoints = std::move(endpoints);
}

void SetStorage(HandsetConfig& c, const json& v) {
  const auto kind = handset::StorageKindNamed(Convert<std::string>(v));
  if (!kind) throw WrongType{};
  c.storage = *kind;
}

void SetFailRate(HandsetConfig& c, const json& v) {
  if (!v.is_number() || v.get<double>() < 0 || v.get<double>() > 1) throw WrongType{};
  c.failRate = v.get<double>();
}

// {"name": "A", "mbps": 480}: the seats naming one hub share its bandwidth.
void SetHub(HandsetConfig& c, const json& v) {
  if (!v.is_object() || v.size() != 2 || !v.contains("name") || !v.contains("mbps"))
    throw WrongType{};
  c.hub = Convert<std::string>(v.at("name"));
  const auto mbps = Convert<uint32_t>(v.at("mbps"));
  if (c.hub.empty() || mbps == 0) throw WrongType{};
  c.hubBytesPerSecond = uint64_t{mbps} * 1000000 / 8;
}

const std::map<std::string, Setter>& HandsetSetters() {
  using H = HandsetConfig;
  static const std::map<std::string, Setter> setters = {
      {"kind", SetKind},
      {"instancePart", Field(Whole, &H::instancePart)},
      {"friendlyName", OptionalText(&H::friendlyName)},
      {"deviceDescription", OptionalText(&H::deviceDescription)},
      {"endpoints", SetEndpoints},
      {"upperCaseInterfacePath", Field(Whole, &H::upperCaseInterfacePath)},
      {"deviceInfo", Field(Whole, &H::deviceInfo)},
      {"modelName", Field(Whole, &H::modelName)},
      {"uefiAnswer", Field(Whole, &H::uefiAnswer)},
      {"securityAnswer", Field(Whole, &H::securityAnswer)},
      {"deviceTypeAnswer", Field(Whole, &H::deviceTypeAnswer)},
      {"refuseStartDownload", Field(Whole, &H::refuseStartDownload)},
      {"writeProtected", Field(Whole, &H::writeProtected)},
      {"highSpeed", Field(Whole, &H::highSpeed)},
      {"refuseCsc", Field(Whole, &H::refuseCsc)},
      {"refuseFileSelect", Field(Whole, &H::refuseFileSelect)},
      {"refuseRecover", Field(Whole, &H::refuseRecover)},
      {"emmcSectors", Field(Whole, &H::emmcSectors)},
      {"storage", SetStorage},
      {"keepRequestLog", Field(Whole, &H::keepRequestLog)},
      {"location", Field(Whole, &H::location)},
      {"failRate", SetFailRate},
      {"hub", SetHub},
      {"faults", [](H& c, const json& v) { ApplyObject(v, FaultSetters(), c, "faults"); }},
      {"openFaults",
       [](H& c, const json& v) { ApplyObject(v, OpenFaultSetters(), c, "openFaults"); }},
  };
  return setters;
}

}  // namespace

std::optional<std::vector<HandsetConfig>> ParseHandsetConfigs(
    const std::string& jsonText, const std::function<HandsetConfig(int)>& suited,
    std::string* error) {
  const json document = json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded()) {
    *error = "not valid JSON";
    return std::nullopt;
  }
  if (!document.is_array() || document.empty() || document.size() > 10) {
    *error = "must be an array of 1 to 10 objects, one per handset";
    return std::nullopt;
  }
  std::vector<HandsetConfig> configs;
  std::set<std::string> instances;
  std::set<std::string> locations;
  std::map<std::string, uint64_t> hubs;
  try {
    for (size_t i = 0; i < document.size(); ++i) {
      HandsetConfig c = suited(static_cast<int>(i));
      std::string where = "handset ";
      where += std::to_string(i);
      ApplyObject(document[i], HandsetSetters(), c, where);
      const std::string instance =
          handset::VirtualHandset::HardwareId(c.kind) + "\\" + c.instancePart;
      // Two handsets with one instance id would be one interface to the station, which
      // compares interface paths without regard to case.
      if (!instances.insert(platform::LowerAscii(instance)).second)
        throw std::invalid_argument(where + ": instance " + instance + " is already taken");
      if (!c.location.empty() && !locations.insert(c.location).second)
        throw std::invalid_argument(where + ": location " + c.location + " is already taken");
      if (c.failRate && !handset::NamesAFault(c.faults))
        throw std::invalid_argument(where + ": failRate needs a fault in \"faults\" to show");
      // One hub has one bandwidth: two figures would leave the line's speed to chance.
      if (!c.hub.empty() && !hubs.emplace(c.hub, c.hubBytesPerSecond).second &&
          hubs[c.hub] != c.hubBytesPerSecond)
        throw std::invalid_argument(where + ": hub " + c.hub +
                                    " was given another bandwidth before");
      configs.push_back(std::move(c));
    }
  } catch (const std::invalid_argument& e) {
    *error = e.what();
    return std::nullopt;
  }
  return configs;
}

}  // namespace demo
