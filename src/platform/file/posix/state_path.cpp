// The home folder comes from HOME, else the password database; the settings file's too.
#include "platform/file/state_path.h"

#include <cstdlib>

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
#ifdef _WIN32
constexpr const char* kHomeVariable = "USERPROFILE";
#else
constexpr const char* kHomeVariable = "HOME";
#endif
}  // namespace

std::string StateFilePath(const std::string& name) {
#ifdef _WIN32
  const char* local = std::getenv("LOCALAPPDATA");
  if (!local || local[0] == '\0') return {};
  return std::string(local) + "\\ostrevane\\" + name;
#else
  std::string base;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return {};
    base = home + "/.local/state";
  }
  return base + "/ostrevane/" + name;
#endif
}

std::string HomeFolder() {
  const char* home = std::getenv(kHomeVariable);
#ifndef _WIN32
  if (!home || home[0] == '\0') {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
#endif
  return home ? std::string(home) : std::string();
}

}  // namespace platform
