// libpq's default sslmode ("prefer") neither insists on encryption nor checks who answers,
// so a remote server must be named with verify-full for the password and the records to
// reach only the line's own server.
#include "results/link_warning.h"

#include "platform/database/libpq/libpq_connection.h"

namespace results {

namespace {

bool IsLoopbackV4(const std::string& host) {
  // 127.0.0.0/8, written as four dotted numbers.
  if (host.rfind("127.", 0) != 0) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  return dots == 3;
}

bool OnThisMachine(const std::string& host) {
  // A socket folder (or Linux's abstract namespace) never leaves the machine.
  if (!host.empty() && (host[0] == '/' || host[0] == '@')) return true;
  return host == "localhost" || host == "::1" || host == "[::1]" || IsLoopbackV4(host);
}

}  // namespace

std::string InsecureLinkWarning(const std::string& target) {
  platform::DbTargetInfo info;
  std::string error;
  if (!platform::DescribeDbTarget(target, &info, &error)) return "";
  if (info.sslMode == "verify-full") return "";
  for (const std::string& host : info.hosts) {
    if (OnThisMachine(host)) continue;
    return "results database: " + host +
           " is reached over the network without sslmode=verify-full, so the server is "
           "not authenticated and records may travel in clear; add sslmode=verify-full "
           "sslrootcert=FILE to the address";
  }
  return "";
}

}  // namespace results
