// /proc/self readings and the trend rule.
#include "process_sample.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace soak {
namespace {

uint64_t StatusValue(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1));
  return 0;
}

}  // namespace

ProcessSample SampleProcess(int run) {
  ProcessSample s;
  s.run = run;
  s.residentKb = StatusValue("VmRSS");
  s.threads = static_cast<int>(StatusValue("Threads"));
  std::error_code ec;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
    ++s.fds;
  return s;
}

std::string JudgeTrend(const std::vector<ProcessSample>& samples) {
  if (samples.size() < 2) return {};
  const ProcessSample& first = samples.front();
  std::ostringstream why;
  for (const auto& s : samples) {
    if (s.threads != first.threads)
      why << "threads " << first.threads << " -> " << s.threads << " at run " << s.run << "; ";
    if (s.fds != first.fds)
      why << "file descriptors " << first.fds << " -> " << s.fds << " at run " << s.run << "; ";
  }
  const ProcessSample& last = samples.back();
  if (last.residentKb > first.residentKb + 16 * 1024 + first.residentKb / 4)
    why << "resident memory " << first.residentKb << " kB -> " << last.residentKb << " kB; ";
  const size_t from = samples.size() / 2;
  if (samples.size() - from >= 4) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = from; i < samples.size(); ++i) {
      const double x = samples[i].run, y = static_cast<double>(samples[i].residentKb);
      n += 1, sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
    if (slope > 64) why << "resident memory climbs " << slope << " kB a run; ";
  }
  return why.str();
}

}  // namespace soak
