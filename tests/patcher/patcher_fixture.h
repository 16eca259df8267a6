// A patcher run against the fake system: a game installed at C:\Games\Vorn, the shipped texts in
// Patch.ini, and a small tree under Files.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"
#include "support/pack_builder.h"

// The LZSS container (blocks of 32768 bytes) around these bytes.
std::string Container(const std::string& content);
// A patch file: an image of 20000 bytes that holds the letters of the signature, then the
// payload, the container of a pack of these members, at an offset that is no multiple of the
// scan step.
std::string PatchFile(const PackMembers& members);

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
