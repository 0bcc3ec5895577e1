// Parses the demo's arguments strictly: unknown flags and bad numbers are refused.
#include "demo/demo_options.h"

#include <charconv>

namespace demo {

const char* const kDemoUsage =
    "usage: ostrevane_demo --os FILE.kx4 --csc FILE.csc [--handsets N] [--out DIR]\n"
    "                      [--link-mbps M]\n"
    "  --handsets N    virtual handsets to write at once, 1..10 (default 10)\n"
    "  --out DIR       where capture.pcap and the dump of handset 0 go (default demo-out)\n"
    "  --link-mbps M   each handset's link speed in megabits per second (default 0:\n"
    "                  unlimited; a USB 2.0 high-speed link carries about 320 in practice)\n";

namespace {

bool ParseNumber(const std::string& text, uint64_t* out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, *out);
  return !text.empty() && ec == std::errc() && p == end;
}

}  // namespace

std::optional<DemoOptions> ParseDemoOptions(const std::vector<std::string>& args,
                                            std::string* error) {
  DemoOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& flag = args[i];
    if (i + 1 >= args.size()) {
      *error = flag + ": unknown argument or missing value";
      return std::nullopt;
    }
    const std::string& value = args[++i];
    uint64_t n = 0;
    if (flag == "--os") {
      o.osPath = value;
    } else if (flag == "--csc") {
      o.cscPath = value;
    } else if (flag == "--out") {
      o.outDir = value;
    } else if (flag == "--handsets") {
      if (!ParseNumber(value, &n) || n < 1 || n > 10) {
        *error = "--handsets takes a number from 1 to 10 (the station has ten channels)";
        return std::nullopt;
      }
      o.handsets = static_cast<int>(n);
    } else if (flag == "--link-mbps") {
      if (!ParseNumber(value, &n) || n > 100000) {
        *error = "--link-mbps takes a number of megabits per second, 0 for unlimited";
        return std::nullopt;
      }
      o.linkMbps = n;
    } else {
      *error = flag + ": unknown argument";
      return std::nullopt;
    }
  }
  if (o.osPath.empty() || o.cscPath.empty()) {
    *error = "--os and --csc are both needed";
    return std::nullopt;
  }
  return o;
}

}  // namespace demo
