// smdtool: build image files from JSON layouts, describe them, verify their digest.
// Exit codes: 0 success, 1 failure (bad layout, wrong digest), 2 unreadable or not an image.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "image/image_digest.h"
#include "image/smd_reader.h"
#include "ostrevane_version.h"
#include "platform/text/escaped_text.h"
#include "smdtool/image_builder.h"
#include "smdtool/image_report.h"

namespace {

constexpr const char* kUsage =
    "usage: smdtool build LAYOUT.json -o FILE [--set NAME=VALUE ...]\n"
    "       smdtool info [--json] FILE\n"
    "       smdtool verify FILE\n"
    "       smdtool --help | --version\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

int Build(const std::vector<std::string>& args) {
  std::string layout, out;
  smdtool::ParamOverrides overrides;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      out = args[++i];
    } else if (args[i] == "--set" && i + 1 < args.size()) {
      const std::string& kv = args[++i];
      const size_t eq = kv.find('=');
      if (eq == std::string::npos || eq == 0) {
        std::fprintf(stderr, "smdtool: --set needs NAME=VALUE, got \"%s\"\n", kv.c_str());
        return 2;
      }
      overrides[kv.substr(0, eq)] = kv.substr(eq + 1);
    } else if (layout.empty() && args[i][0] != '-') {
      layout = args[i];
    } else {
      return Usage();
    }
  }
  if (layout.empty() || out.empty()) return Usage();
  smdtool::BuildSummary summary;
  if (auto error = smdtool::BuildImageFromFile(layout, out, overrides, &summary)) {
    std::fprintf(stderr, "smdtool: %s\n", error->ToString().c_str());
    return 1;
  }
  std::printf("%s: %llu bytes, md5 %s\n", out.c_str(),
              static_cast<unsigned long long>(summary.fileSize),
              image::Md5Hex(summary.digest).c_str());
  return 0;
}

int Info(const std::vector<std::string>& args) {
  bool json = false;
  std::string file;
  for (const auto& a : args) {
    if (a == "--json")
      json = true;
    else if (file.empty())
      file = a;
    else
      return Usage();
  }
  if (file.empty()) return Usage();
  std::string error;
  auto report = smdtool::InspectImage(file, &error);
  if (!report) {
    std::fprintf(stderr, "smdtool: %s\n", error.c_str());
    return 2;
  }
  if (json)
    std::printf("%s\n", smdtool::ReportToJson(*report).dump(2).c_str());
  else
    std::fputs(smdtool::ReportToText(*report).c_str(), stdout);
  return 0;
}

int Verify(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage();
  const std::string& file = args[0];
  image::ImageDigestJob job;
  if (!job.Open(file)) {
    std::printf("%s: cannot open\n", file.c_str());
    return 2;
  }
  const image::SmdHeader header = image::DecodeSmdHeader(job.Header().data(), job.Header().size());
  if (!image::KindOfMagic(header.magic)) {
    std::printf("%s: not an image file (magic \"%s\")\n", file.c_str(),
                platform::EscapedText(header.magic).c_str());
    return 2;
  }
  std::atomic<bool> stop{false};
  const image::DigestResult result = job.Run(nullptr, stop);
  switch (result.outcome) {
    case image::DigestOutcome::kComplete:
      break;
    default:
      std::printf("%s: %s\n", file.c_str(), image::DigestOutcomeText(result.outcome));
      return 2;
  }
  if (!result.Matches()) {
    std::printf("%s: digest wrong: stored %s, computed %s\n", file.c_str(),
                image::Md5Hex(result.stored).c_str(), image::Md5Hex(result.computed).c_str());
    return 1;
  }
  std::printf("%s: digest right (%s)\n", file.c_str(), image::Md5Hex(result.computed).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--version") {
    std::printf("smdtool %s\n", OSTREVANE_VERSION);
    return 0;
  }
  if (command == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "build") return Build(args);
  if (command == "info") return Info(args);
  if (command == "verify") return Verify(args);
  return Usage();
}
