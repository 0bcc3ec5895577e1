// ostrevane_icon: writes the application icon as the files the desktop entry names.
// Usage: ostrevane_icon OUT_DIR   (writes ostrevane-<N>.png for N = 32, 64, 128, 256
// ostrevane.svg, and ostrevane.ico for Windows). Exit 0 when every file was written, 1 otherwise.
#include <cstdio>
#include <fstream>
#include <string>

#include "console/artwork.h"
#include "icon/icon_files.h"

namespace {

bool WriteFile(const std::string& path, const void* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::fprintf(stderr, "ostrevane_icon: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: ostrevane_icon OUT_DIR\n", stderr);
    return 1;
  }
  const std::string dir = argv[1];
  const auto bitmap = console::ApplicationIcon();
  bool ok = true;
  for (int size : {32, 64, 128, 256}) {
    const auto png = icon::EncodePng(*bitmap, size / bitmap->width);
    ok = !png.empty() &&
         WriteFile(dir + "/ostrevane-" + std::to_string(size) + ".png", png.data(), png.size()) &&
         ok;
  }
  const std::string svg = icon::EncodeSvg(*bitmap);
  ok = !svg.empty() && WriteFile(dir + "/ostrevane.svg", svg.data(), svg.size()) && ok;
  const auto ico = icon::EncodeIco(*bitmap, icon::kWindowsIconScales);
  ok = !ico.empty() && WriteFile(dir + "/ostrevane.ico", ico.data(), ico.size()) && ok;
  return ok ? 0 : 1;
}
