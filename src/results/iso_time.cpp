// Hand-parsed: std::chrono::parse is missing from this compiler's library, and the
// record format is fixed anyway.
#include "results/iso_time.h"

#include <chrono>
#include <cstdio>

namespace results {

namespace {

bool Digits(const std::string& t, size_t at, size_t n, int* out) {
  if (at + n > t.size()) return false;
  int v = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    v = v * 10 + (t[i] - '0');
  }
  *out = v;
  return true;
}

}  // namespace

std::optional<int64_t> ParseIsoUtc(const std::string& t) {
  using namespace std::chrono;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (!Digits(t, 0, 4, &y) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, &mo) ||
      t[7] != '-' || !Digits(t, 8, 2, &d))
    return std::nullopt;
  size_t at = 10;
  if (at < t.size() && (t[at] == 'T' || t[at] == ' ')) {
    if (!Digits(t, at + 1, 2, &h) || at + 3 >= t.size() || t[at + 3] != ':' ||
        !Digits(t, at + 4, 2, &mi))
      return std::nullopt;
    at += 6;
    if (at < t.size() && t[at] == ':') {
      if (!Digits(t, at + 1, 2, &s)) return std::nullopt;
      at += 3;
      if (at < t.size() && t[at] == '.') {
        if (!Digits(t, at + 1, 3, &ms)) return std::nullopt;
        at += 4;
      }
    }
  }
  if (at < t.size() && t[at] == 'Z') ++at;
  if (at != t.size() || y < 1970 || h > 23 || mi > 59 || s > 59) return std::nullopt;
  const year_month_day day{year{y}, month{static_cast<unsigned>(mo)},
                           std::chrono::day{static_cast<unsigned>(d)}};
  if (!day.ok()) return std::nullopt;
  const auto tp = sys_days{day} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
  return duration_cast<milliseconds>(tp.time_since_epoch()).count();
}

std::string FormatIsoUtc(int64_t msSinceEpoch) {
  using namespace std::chrono;
  const sys_time<milliseconds> t{milliseconds{msSinceEpoch}};
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> time{t - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ",
                static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                static_cast<unsigned>(ymd.day()), static_cast<long long>(time.hours().count()),
                static_cast<long long>(time.minutes().count()),
                static_cast<long long>(time.seconds().count()),
                static_cast<long long>(time.subseconds().count()));
  return text;
}

std::string HourLabel(int64_t msSinceEpoch) {
  const std::string iso = FormatIsoUtc(msSinceEpoch);
  return iso.substr(0, 10) + " " + iso.substr(11, 2) + ":00Z";
}

}  // namespace results
