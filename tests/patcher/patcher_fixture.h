// A patcher run against the fake system: a game installed at C:\Games\Vorn, the shipped texts in
// Patch.ini, and a small tree under Files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"

class PatcherRun : public ::testing::Test {
 public:
  static constexpr const char* kGame = "C:\\Games\\Vorn\\";

 protected:
  PatcherRun();
  ~PatcherRun() override;

  // Patch.ini from the shipped texts plus extra lines of section "str".
  void WritePatchIni(const std::string& extra = "");
  // Runs the main sequence; the exit code, whether returned or passed to the process exit.
  int Run();

  // Texts of the message boxes shown, in order.
  std::vector<std::string> Texts() const;
  // True when nothing on the disk was opened for writing and no registry value was written.
  bool SystemUnchanged() const;

  FakeSystem fake;
  FakePlatformScope scope{&fake};
};
