// Whole patch applications on the simulated disk, stopped or failed at every operating-system
// call in turn: each game file is always its old or its new version, byte for byte, and the
// same patch run again completes the update.
#include <algorithm>

#include "file/disk_file.h"
#include "patcher/patcher_state.h"
#include "patcher_world.h"

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

enum class Left { kRunning, kKilled, kPowerCut };

// Every member's target old or new and nothing else changed; after a stop a temporary may be
// left, and an old target may have lost its read-only attribute. A file that replaces another is
// flushed first, a new one is not: after a power cut a new target is missing or there without
// its bytes. True when every target is in place (after a power cut: every replaced one).
bool ExpectOldOrNew(SimDisk::Image rest, Left left) {
  const bool afterStop = left != Left::kRunning;
  bool allNew = true;
  for (const auto& [member, fresh] : NewFiles(g_base)) {
    const std::string path = GamePath(member);
    auto now = rest.find(path), then = g_base.image.find(path);
    const bool present = now != rest.end(), wasThere = then != g_base.image.end();
    const bool unflushed = left == Left::kPowerCut && !wasThere;
    const bool isNew =
        present && now->second == SimDisk::Node({false, false, unflushed ? "" : fresh});
    const bool isOld = !wasThere ? !present
                                 : present && (afterStop ? now->second.bytes == then->second.bytes
                                                         : now->second == then->second);
    EXPECT_TRUE(isNew || isOld) << path << (unflushed ? " was flushed" : " is torn");
    allNew = allNew && (isNew || unflushed);
    rest.erase(path);
    if (then != g_base.image.end()) rest[path] = then->second;
    if (afterStop) rest.erase(path + kReplacementSuffix);
  }
  rest.erase(kPatch);
  EXPECT_EQ(rest, g_base.image) << "files other than the targets changed";
  return allNew;
}

// At a question the failed file is exactly as it was and its temporary is gone.
void CheckAtQuestion(u32 type) {
  if (type == MB_TYPE_ABORT_RETRY_IGNORE && !g_disk->Stopped())
    ExpectOldOrNew(g_disk->Killed(), Left::kRunning);
}

u32 SteppedSetDword(const char* name, u32 value) {
  if (!g_disk->Step()) return 0;
  g_world->dwords[name] = value;
  return 1;
}

int Apply(World& world, SimDisk& disk, const SimDisk::Image& image, const std::string& answers,
          SimDisk::Fault fault = SimDisk::Fault::kNone, u32 at = 0, const std::string& path = "") {
  world.image = image;
  world.answers = answers;
  world.fault = fault;
  world.faultAt = at;
  world.faultPath = path;
  const int code = RunPatch(world, disk);
  EXPECT_EQ(disk.OpenHandles(), 0u) << "handles left open";
  return code;
}

void ExpectComplete(World& world, SimDisk& disk, int code) {
  EXPECT_EQ(code, 0);
  EXPECT_EQ(world.boxes.back(), "O:VORN was updated!");
  EXPECT_TRUE(ExpectOldOrNew(disk.Killed(), Left::kRunning));
  EXPECT_EQ(world.dwords["GameVersion"], 0x10001u);
}

TEST(CrashWalk, EveryStopLeavesOldOrNewFilesAndARerunCompletes) {
  g_base = CrashWorld();
  World world = g_base;
  world.patchBytes = PatchFile(world);
  world.onBox = CheckAtQuestion;
  world.titled = false;  // a stop while the texts are read leaves them empty
  world.setDword = SteppedSetDword;
  const u32 runs = RunWithDiskFaults([&](SimDisk& disk, u32 at) {
    world.dwords["GameVersion"] = 0x10000;
    // Ignored, not aborted: an abort ends the process, which the flow table covers.
    const int code = Apply(world, disk, g_base.image, "yiiiii", SimDisk::Fault::kStop, at);
    if (!disk.Injected()) return ExpectComplete(world, disk, code);
    const u32 version = world.dwords["GameVersion"];
    // What a killed process leaves, and what a power cut leaves.
    for (const auto& [left, how] : {std::make_pair(disk.Killed(), Left::kKilled),
                                    std::make_pair(disk.PowerCut(), Left::kPowerCut)}) {
      if (!ExpectOldOrNew(left, how)) {
        EXPECT_EQ(version, 0x10000u) << "the version was recorded before every file was new";
      }
      world.dwords["GameVersion"] = version;
      ExpectComplete(world, disk, Apply(world, disk, left, "y"));
    }
  });
  EXPECT_GT(runs, 40u);

  // A full disk at each write in turn, and a failed read of the patch at each read in turn.
  world.onBox = nullptr;
  for (const auto& [fault, path] : {std::make_pair(SimDisk::Fault::kDiskFull, std::string()),
                                    std::make_pair(SimDisk::Fault::kReadError, kPatch)}) {
    EXPECT_GT(RunWithDiskFaults([&](SimDisk& disk, u32 at) {
                world.dwords["GameVersion"] = 0x10000;
                const int code = Apply(world, disk, g_base.image, "yr", fault, at, path);
                const size_t questions =
                    std::count_if(world.boxes.begin(), world.boxes.end(),
                                  [](const std::string& box) { return box[0] == 'A'; });
                // A failed read-ahead is read again by the stream itself, without a question.
                EXPECT_LE(questions, 1u);
                if (fault == SimDisk::Fault::kDiskFull) {
                  EXPECT_EQ(questions, disk.Injected() ? 1u : 0u);
                }
                if (code == 0) return ExpectComplete(world, disk, code);
                // A read before the copy: the patch could not be read, and nothing was written.
                EXPECT_EQ(code, -1);
                EXPECT_EQ(questions, 0u);
                SimDisk::Image left = disk.Killed();
                left.erase(kPatch);
                EXPECT_EQ(left, g_base.image);
                EXPECT_EQ(world.dwords["GameVersion"], 0x10000u);
              }),
              3u);
  }
}

}  // namespace
