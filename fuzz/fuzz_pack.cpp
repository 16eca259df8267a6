// Mounts arbitrary bytes as a pack, lists the whole tree recursively as the tool does (through
// tools/vornpatch/tree.cpp), opens and reads every member and asks for every member's offset;
// the verifier reads the same bytes.
#include <cstring>
#include <string>

#include "archive/pack_format.h"
#include "archive/pack_fs.h"
#include "archive/pack_verify.h"
#include "support/memory_file.h"
#include "tree.h"

namespace {

void ReadMember(CPackFS* fs, const std::string& path) {
  ErrorCode error = nullptr;
  CFile* member = fs->Open(path.c_str(), OPEN_READ, &error);
  fs->GetFileOffset(path.c_str(), &error);
  if (!member) return;
  u8 buffer[4096];
  u32 done = 0;
  // Bounded: a damaged size may claim gigabytes that the input does not hold.
  for (int i = 0; i < 64 && member->Read(buffer, sizeof buffer, &done) == nullptr && done; ++i) {
  }
  member->Seek(-1, SEEK_FROM_END);
  member->Read(buffer, 1, nullptr);
  delete member;
}

// The tool's walk joins a name to its folder only with a separator the folder lacks, so a
// folder named "" would be listed again and again.
void WalkAsTheTool(CPackFS* fs) {
  const u32 entries = fs->Index()->UsableCount();
  u32 visits = 0;
  WalkTree(fs, std::string(), '\\', [&](const WalkEntry& entry) -> int {
    // Every entry is reported once, and a folder only for entries below it.
    if (++visits > entries * (kPackMaxNameLength / 2 + 1) ||
        entry.relative.size() > kPackMaxNameLength)
      __builtin_trap();
    if (!entry.IsDirectory()) ReadMember(fs, entry.full);
    return 0;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  MemoryFile copy(std::vector<u8>(data, data + size));
  char message[256];
  VerifyPack(&copy, message, sizeof message);
  CPackFS fs;
  if (fs.Mount(new MemoryFile(std::vector<u8>(data, data + size)))) return 0;
  fs.Exists("");
  WalkAsTheTool(&fs);
  fs.CheckWhole();
  // Every stored name, also those the listing cannot reach (lower case, odd separators), comes
  // in order and is found again, whatever the bytes around it.
  char name[256], previous[256] = "";
  u32 steps = 0, record[2];
  for (u32 more = fs.Index()->NextName(nullptr, name); more;
       more = fs.Index()->NextName(name, name)) {
    if (++steps > fs.Index()->UsableCount() || (steps > 1 && std::strcmp(previous, name) >= 0) ||
        !fs.Index()->FindRecord(name, record))
      __builtin_trap();
    std::strcpy(previous, name);
    ReadMember(&fs, name);
  }
  if (steps != fs.Index()->UsableCount()) __builtin_trap();
  return 0;
}
