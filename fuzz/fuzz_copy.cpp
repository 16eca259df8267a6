// The patcher's copy (CopyPackTree over "DATA\Files") over arbitrary bytes mounted as the
// payload's pack, with the scripted platform of tests/patcher and a game folder in memory. The
// pack is mounted as the game pack is, without the payload's whole-directory check, so that the
// walk itself meets damaged directories. Every copy question gets the answer OK (go on). The walk
// must end, and nothing may be written outside the game folder.
#include <cstring>
#include <string>

#include "archive/pack_fs.h"
#include "fake_platform.h"
#include "fuzz_memory_file.h"
#include "patcher/patcher_state.h"

namespace {

constexpr char kGame[] = "C:\\Games\\Vorn\\";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  FakeSystem fake;
  fake.disk->AddFolder(kGame);
  const size_t before = fake.disk->entries.size();  // the game folder and its parents
  FakePlatformScope scope(&fake);
  InitMountTable(8);
  g_platform.MountRootService();
  CPackFS* pack = new CPackFS();
  if (!pack->Mount(new FuzzMemoryFile(data, size)) && !MountService("DATA\\", pack)) {
    std::strcpy(InstallPath, kGame);
    CopyIncomplete = 0;
    CopyPackTree(kPayloadRoot);
    size_t inside = 0;
    for (const auto& entry : fake.disk->entries) {
      if (entry.first.compare(0, sizeof kGame - 1, kGame) == 0) ++inside;
    }
    if (inside != fake.disk->entries.size() - before) __builtin_trap();
  } else {
    delete pack;
  }
  g_platform.UnmountRootService();
  ShutdownMountTable();
  return 0;
}
