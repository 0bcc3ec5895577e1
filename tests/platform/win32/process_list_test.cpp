// The single-copy rule with real Windows processes under Wine: copies of a stand-in
// station started by this test, the starting copy seeing only this test's children.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;

class Win32SingleCopy : public ::testing::Test {
 protected:
  ~Win32SingleCopy() override {
    for (HANDLE h : children_) {
      TerminateProcess(h, 1);
      CloseHandle(h);
    }
  }

  fs::path Copy(const std::string& relative) {
    const fs::path to = dir_ / relative;
    fs::create_directories(to.parent_path());
    fs::copy_file(OSTREVANE_COPY_PROBE, to);
    return to;
  }

  // The child runs `exe args`; with `input` its standard input is a pipe whose write end
  // comes back there.
  HANDLE Spawn(const fs::path& exe, const std::wstring& args, HANDLE* input = nullptr) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    STARTUPINFOW si{};
    si.cb = sizeof si;
    HANDLE inRead = nullptr;
    if (input && CreatePipe(&inRead, input, &inherit, 0)) {
      SetHandleInformation(*input, HANDLE_FLAG_INHERIT, 0);
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdInput = inRead;
      si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
      si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::wstring line = L"\"" + exe.wstring() + L"\" " + args;
    PROCESS_INFORMATION pi{};
    // Only a child given an input inherits handles: one that inherited the test's output
    // pipe and outlived the test (its end by force is not immediate under a loaded Wine)
    // would hold CTest's pipe open until the case's timeout, after the case has passed.
    const BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, inRead != nullptr, 0,
                                   nullptr, nullptr, &si, &pi);
    if (inRead) CloseHandle(inRead);
    if (!ok) return nullptr;
    CloseHandle(pi.hThread);
    children_.push_back(pi.hProcess);
    return pi.hProcess;
  }

  // The exit code once the process has ended within `ms`; STILL_ACTIVE while it runs.
  static DWORD ExitCode(HANDLE process, DWORD ms) {
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, ms) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
  }

  fs::path dir_ = testsupport::ScratchDir("copies");
  std::vector<HANDLE> children_;
};

TEST_F(Win32SingleCopy, TheStartingCopyClosesEarlierCopiesOfItsNameOnly) {
  // Listed before the starting copy; whether each is closed.
  const struct {
    const char* path;
    bool ended;
  } earlier[] = {
      {"a/station.exe", true},
      {"b/station.exe", true},
      {"c/other.exe", false},
      {"d/station.EXE", false},  // only the extension's case differs: not the name
  };
  std::vector<HANDLE> copies;
  for (const auto& e : earlier) {
    copies.push_back(Spawn(Copy(e.path), L"sleep"));
    ASSERT_NE(copies.back(), nullptr) << e.path;
  }
  HANDLE input = nullptr;
  HANDLE starter =
      Spawn(Copy("new/station.exe"), L"start " + std::to_wstring(GetCurrentProcessId()), &input);
  ASSERT_NE(starter, nullptr);
  // Listed after the starting copy: never asked by it.
  HANDLE later = Spawn(Copy("later/station.exe"), L"sleep");
  ASSERT_NE(later, nullptr);

  DWORD written = 0;
  ASSERT_TRUE(WriteFile(input, "go\n", 3, &written, nullptr));
  CloseHandle(input);
  ASSERT_EQ(ExitCode(starter, 60000), 0u);

  // The starter went on only once the copies it asked had gone: each closed its window
  // (exit code 7); a copy left alone still runs.
  for (size_t i = 0; i < copies.size(); ++i)
    EXPECT_EQ(ExitCode(copies[i], 0), earlier[i].ended ? 7u : STILL_ACTIVE) << earlier[i].path;
  EXPECT_EQ(ExitCode(later, 0), STILL_ACTIVE);
}

}  // namespace
