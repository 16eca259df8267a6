// Whole patch applications on a simulated disk, stopped or failed at every operating-system
// call in turn: each game file is always its old or its new version, byte for byte, and the
// same patch run again completes the update.
#include <utility>

#include "file/disk_file.h"
#include "patcher/patcher_state.h"
#include "patcher_fixture.h"
#include "support/sim_disk.h"

namespace {

using Image = SimDisk::Image;

const std::string kGameDir = "C:\\Games\\Vorn";
const std::string kPatchPath = "C:\\Patch\\patch.exe";
const std::string kMap(70000, 'm');  // three blocks of the payload

struct Target {
  std::string path;
  const char* old;  // null: the file is new
  std::string fresh;
};

const Target kTargets[] = {
    {kGameDir + "\\README.TXT", "old read-only text", "read me\r\n"},
    {kGameDir + "\\EMPTY.DAT", "old", ""},
    {kGameDir + "\\DATA\\MAPS\\ONE.MAP", "old map", kMap},
    {kGameDir + "\\DATA\\UNITS.INI", nullptr, "[units]\n"},
};

Image g_initial;
SimDisk* g_disk;
PatcherPlatform g_fakePlatform;

// Every target old or new and nothing else changed; after a stop a temporary of a target may be
// left, and an old target may have lost its read-only attribute. True when every target is new.
bool ExpectOldOrNew(const Image& image, bool afterStop) {
  Image rest = image;
  bool allNew = true;
  for (const Target& target : kTargets) {
    auto it = rest.find(target.path);
    auto original = g_initial.find(target.path);
    const bool present = it != rest.end();
    const bool isNew = present && !it->second.readOnly && it->second.bytes == target.fresh;
    const bool isOld = target.old ? present && (afterStop ? it->second.bytes == target.old
                                                          : it->second == original->second)
                                  : !present;
    EXPECT_TRUE(isNew || isOld) << target.path << " is torn: "
                                << (present ? it->second.bytes.substr(0, 40) : "(absent)");
    allNew = allNew && isNew;
    rest.erase(target.path);
    if (original != g_initial.end()) rest[target.path] = original->second;
    if (afterStop) rest.erase(target.path + kReplacementSuffix);
  }
  EXPECT_EQ(rest, g_initial) << "files other than the targets changed";
  return allNew;
}

u32 SimGetAttributes(const char* path) { return g_disk->Attributes(path); }
u32 SimSetAttributes(const char* path, u32 value) { return g_disk->SetAttributes(path, value); }
u32 SimFileOpens(const char* path) { return g_disk->Step() && g_disk->Exists(path); }
u32 SimRegSetDword(PlatformKey key, const char* name, u32 value) {
  return g_disk->Step() && g_fakePlatform.RegSetDword(key, name, value);
}
// At a question the failed file is exactly as it was and its temporary is gone.
int CheckingMessageBox(PlatformWindow owner, const char* text, const char* caption, u32 type) {
  if (type == MB_TYPE_ABORT_RETRY_IGNORE && !g_disk->Stopped()) {
    ExpectOldOrNew(g_disk->Killed(), false);
  }
  return g_fakePlatform.MessageBox(owner, text, caption, type);
}

class CrashWalk : public PatcherRun {
 protected:
  CrashWalk() {
    const std::string ini = fake.data->Content("Patch.ini");
    fake.data = nullptr;
    g_initial.clear();
    for (const char* folder : {"C:", "C:\\Games", "C:\\Games\\Vorn", "C:\\Games\\Vorn\\DATA",
                               "C:\\Games\\Vorn\\DATA\\MAPS", "C:\\Patch"}) {
      g_initial[folder].folder = true;
    }
    g_initial[kGameDir + "\\Vorn.exe"].bytes = "MZ";
    for (const Target& target : kTargets) {
      if (target.old) g_initial[target.path].bytes = target.old;
    }
    g_initial[kTargets[0].path].readOnly = true;
    g_initial[kPatchPath].bytes = PatchFile({{"Patch.ini", ini},
                                             {"Files/README.TXT", kTargets[0].fresh},
                                             {"Files/EMPTY.DAT", ""},
                                             {"Files/DATA/MAPS/ONE.MAP", kMap},
                                             {"Files/DATA/UNITS.INI", kTargets[3].fresh}});
    g_fakePlatform = g_platform;
    g_platform.MountRootService = StartDiskService;
    g_platform.UnmountRootService = ExitDiskService;
    g_platform.GetFileAttributes = SimGetAttributes;
    g_platform.SetFileAttributes = SimSetAttributes;
    g_platform.FileOpens = SimFileOpens;
    g_platform.RegSetDword = SimRegSetDword;
    g_platform.MessageBox = CheckingMessageBox;
  }

  // Runs the patch on the disk as it is, with these answers; the exit code.
  int Apply(SimDisk& disk, std::initializer_list<int> answers) {
    g_disk = &disk;
    fake.messages.clear();
    fake.answers = answers;
    const int code = Run();
    EXPECT_EQ(disk.OpenHandles(), 0u) << "handles left open";
    return code;
  }

  size_t Questions() const {
    size_t count = 0;
    for (const ShownMessage& message : fake.messages) count += message.caption == "Error";
    return count;
  }

  void ExpectComplete(SimDisk& disk, int code) {
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Texts().back(), "VORN was updated to version 1.01A successfuly!");
    EXPECT_TRUE(ExpectOldOrNew(disk.Killed(), false));
    EXPECT_EQ(fake.regDwords["GameVersion"], 0x10001u);
  }
};

TEST_F(CrashWalk, EveryStopLeavesOldOrNewFilesAndARerunCompletes) {
  const u32 runs = RunWithDiskFaults([&](SimDisk& disk, u32 at) {
    fake.regDwords["GameVersion"] = 0x10000;
    disk.Load(g_initial);
    disk.Arm(SimDisk::Fault::kStop, at);
    // Ignored, not aborted: an abort ends the process, which in a test would leave the
    // listings of the outer folders open. Aborts are checked in copy_worker_test.cpp.
    const int code = Apply(disk, {ANSWER_YES, ANSWER_IGNORE, ANSWER_IGNORE, ANSWER_IGNORE,
                                  ANSWER_IGNORE, ANSWER_IGNORE});
    if (!disk.Injected()) return ExpectComplete(disk, code);
    const u32 version = fake.regDwords["GameVersion"];
    // What a killed process leaves, and what a power cut leaves.
    for (const Image& left : {disk.Killed(), disk.PowerCut()}) {
      if (!ExpectOldOrNew(left, true)) {
        EXPECT_EQ(version, 0x10000u) << "the version was recorded before every file was new";
      }
      fake.regDwords["GameVersion"] = version;
      disk.Load(left);
      ExpectComplete(disk, Apply(disk, {ANSWER_YES}));
    }
  });
  EXPECT_GT(runs, 40u);
}

TEST_F(CrashWalk, FailedWriteOrPayloadReadKeepsTheOldFileAndRetryCompletes) {
  for (const auto& [fault, path] : {std::make_pair(SimDisk::Fault::kDiskFull, std::string()),
                                    std::make_pair(SimDisk::Fault::kReadError, kPatchPath)}) {
    const u32 runs = RunWithDiskFaults([&](SimDisk& disk, u32 at) {
      fake.regDwords["GameVersion"] = 0x10000;
      disk.Load(g_initial);
      disk.Arm(fault, at, path);
      const int code = Apply(disk, {ANSWER_YES, ANSWER_RETRY});
      EXPECT_LE(Questions(), 1u);
      if (fault == SimDisk::Fault::kDiskFull) {
        EXPECT_EQ(Questions(), disk.Injected() ? 1u : 0u);
      }
      // A failed read-ahead is read again by the stream itself, without a question.
      if (code == 0) return ExpectComplete(disk, code);
      // A read before the copy: the patch could not be read, and nothing was written.
      EXPECT_EQ(Questions(), 0u);
      EXPECT_EQ(code, -1);
      EXPECT_EQ(disk.Killed(), g_initial);
      EXPECT_EQ(fake.regDwords["GameVersion"], 0x10000u);
    });
    EXPECT_GT(runs, 3u);
  }
}

}  // namespace
