// Whole patch applications on the simulated disk, stopped or failed at every operating-system
// call in turn: each game file is always its old or its new version, byte for byte, and the
// same patch run again completes the update.
#include <algorithm>

#include "file/disk_file.h"
#include "patcher/patcher_state.h"
#include "patcher_world.h"
#include "support/failing_pools.h"

namespace {

World g_base;

World CrashWorld() {
  World world = DefaultWorld();
  world.image[kGame + "DATA"].folder = world.image[kGame + "DATA\\MAPS"].folder = true;
  world.image[kGame + "EMPTY.DAT"].bytes = "old";
  world.image[kGame + "DATA\\MAPS\\ONE.MAP"].bytes = "old map";
  AddCodedMembers(world);
  world.image[kGame + "MOVIES"].folder = world.image[kGame + "SOUNDS"].folder = true;
  return world;
}

// True when every target is new (patcher_world.h).
bool ExpectOldOrNew(const SimDisk::Image& left, bool afterStop, bool powerCut = false) {
  return OldTargets(g_base, g_base.image, left, afterStop, powerCut).empty();
}

// At a question the failed file is exactly as it was and its temporary is gone.
void CheckAtQuestion(u32 type) {
  if (type == MB_TYPE_ABORT_RETRY_IGNORE && !g_disk->Stopped())
    ExpectOldOrNew(g_disk->Killed(), false);
}

u32 SteppedSetDword(const char* name, u32 value) {
  if (!g_disk->Step()) return 0;
  g_world->dwords[name] = value;
  return 1;
}

// A read error is armed on the patch file.
int Apply(World& world, SimDisk& disk, const SimDisk::Image& image, const std::string& answers,
          SimDisk::Fault fault = SimDisk::Fault::kNone, u32 at = 0) {
  world.image = image;
  world.answers = answers;
  world.fault = fault;
  world.faultAt = at;
  world.faultPath = fault == SimDisk::Fault::kReadError ? kPatch : "";
  const int code = RunPatch(world, disk);
  EXPECT_EQ(disk.OpenHandles(), 0u) << "handles left open";
  return code;
}

void ExpectComplete(World& world, SimDisk& disk, int code) {
  EXPECT_EQ(code, 0);
  EXPECT_EQ(world.boxes.back(), "O:VORN was updated!");
  EXPECT_TRUE(ExpectOldOrNew(disk.Killed(), false));
  EXPECT_FALSE(disk.Killed().count(kGame + kStagingFolder)) << "the staging folder is left";
  EXPECT_EQ(world.dwords["GameVersion"], 0x10001u);
}

// A stop at each call, a full disk at each write and a failed read of the patch at each read:
// the failure is asked about at most once (a stop aside; a failed read-ahead is read again by
// the stream itself), and a read that fails before the copy ends the run with nothing written.
TEST(CrashWalk, EveryFaultLeavesOldOrNewFilesAndARerunCompletes) {
  g_base = CrashWorld();
  World world = g_base;
  world.patchBytes = PatchOfPack(WorldPack(world));
  world.onBox = CheckAtQuestion;
  world.titled = false;  // a stop while the texts are read leaves them empty
  world.setDword = SteppedSetDword;
  using Fault = SimDisk::Fault;
  for (const Fault fault : {Fault::kStop, Fault::kDiskFull, Fault::kReadError}) {
    const u32 runs = RunFaultWalk("disk", [&](u32 at) {
      SimDisk disk;
      world.dwords["GameVersion"] = 0x10000;
      // Ignored, not aborted: an abort ends the process, which the flow table covers.
      const int code = Apply(world, disk, g_base.image, "yiiiii", fault, at);
      if (!disk.Injected()) {
        ExpectComplete(world, disk, code);
        return false;
      }
      const auto questions = std::count_if(world.boxes.begin(), world.boxes.end(),
                                           [](const std::string& box) { return box[0] == 'A'; });
      if (fault == Fault::kDiskFull) {
        EXPECT_EQ(questions, 1);
      } else if (fault == Fault::kReadError) {
        EXPECT_LE(questions, code == 0 ? 1 : 0);
        if (code == 0 && questions == 0) ExpectComplete(world, disk, code);
      }
      if (code == -1 && fault != Fault::kStop) {  // the patch could not be read: nothing written
        SimDisk::Image rest = disk.Killed();
        rest.erase(kPatch);
        EXPECT_EQ(rest, g_base.image);
      }
      const u32 version = world.dwords["GameVersion"];
      // What a killed process leaves, and what a power cut leaves (a stop whatever the fault).
      const SimDisk::Image killed = disk.Killed(), cut = disk.PowerCut();
      for (const SimDisk::Image* left : {&killed, &cut}) {
        if (!ExpectOldOrNew(*left, fault == Fault::kStop || left == &cut, left == &cut)) {
          EXPECT_EQ(version, 0x10000u) << "the version was recorded before every file was new";
        }
        world.dwords["GameVersion"] = version;
        ExpectComplete(world, disk, Apply(world, disk, *left, "y"));
      }
      return true;
    });
    EXPECT_GT(runs, fault == Fault::kStop ? 40u : 3u);
  }
}

}  // namespace
