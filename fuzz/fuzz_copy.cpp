// The patcher's copy (CopyPackTree over "DATA\Files") over arbitrary bytes mounted as the
// payload's pack, on the simulated disk with the scripted platform of tests/patcher. Every copy
// question gets the default answer (go on). The walk must end, and nothing outside the game
// folder may change. The disk holds 16 MiB: a few bytes of a coded member may claim gigabytes
// of output, which the patcher rightly writes until the disk is full.
#include <vector>

#include "patcher_world.h"
#include "support/memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  World world = DefaultWorld();
  world.titled = false;
  SimDisk disk;
  disk.LimitSize(16u << 20);
  RunCopy(world, disk, new MemoryFile(std::vector<u8>(data, data + size)));
  const auto outsideTheGame = [](SimDisk::Image image) {
    auto it = image.lower_bound(kGame);
    while (it != image.end() && it->first.rfind(kGame, 0) == 0) it = image.erase(it);
    return image;
  };
  if (!(outsideTheGame(world.image) == outsideTheGame(disk.Killed()))) __builtin_trap();
  return 0;
}
