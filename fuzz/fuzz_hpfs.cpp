// Attaches arbitrary bytes as an HPFS store, walks the whole tree, reads every file and makes a
// few changes; the verifier reads the same bytes. Work per input is bounded: the walk visits at
// most kMaxEntries entries and kMaxDepth levels (a damaged store may hold directory cycles), and
// reads go in small chunks.
#include <cstring>
#include <string>
#include <vector>

#include "archive/hpfs.h"
#include "archive/hpfs_verify.h"
#include "capped_file.h"
#include "file/bfhp.h"

namespace {

constexpr u32 kMaxEntries = 256;
constexpr int kMaxDepth = 16;

void Walk(CHPFS* fs, const std::string& directory, int depth, u32* visited) {
  if (depth > kMaxDepth) return;
  FindRecord record = {};
  for (ErrorCode error = fs->FindFirst(&record, directory.c_str());
       !error && *visited < kMaxEntries; error = fs->FindNext(&record)) {
    ++*visited;
    std::string path = directory.empty() ? record.name : directory + "\\" + record.name;
    if (record.attributes & ATTR_DIRECTORY) {
      Walk(fs, path, depth + 1, visited);
      continue;
    }
    CFile* file = fs->Open(path.c_str(), OPEN_READ | OPEN_SHARE_READ, nullptr);
    if (!file) continue;
    u8 chunk[4096];
    u32 done = 0;
    for (u32 read = 0; read < (1u << 20); read += done) {
      if (file->Read(chunk, sizeof chunk, &done) || done == 0) break;
    }
    delete file;
  }
  fs->FindClose(&record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, size_t size) {
  if (size > (1u << 20)) return 0;
  MemoryFile copy(std::vector<u8>(data, data + size));
  char message[256];
  VerifyHpfsStore(&copy, message, sizeof message);
  // Room for a little growth beyond the input, like a disk that is nearly full.
  CappedFile* file = new CappedFile(data, size, size + 65536);
  CBFHP* pool = new CBFHP();
  if (pool->Attach(file)) {
    delete file;
    delete pool;
    return 0;
  }
  CHPFS* fs = new CHPFS(pool);
  u32 visited = 0;
  Walk(fs, "", 0, &visited);
  CFile* made = fs->Open("new\\file", OPEN_WRITE | OPEN_CREATE, nullptr);
  if (!made) made = fs->Open("file", OPEN_WRITE | OPEN_CREATE, nullptr);
  if (made) {
    made->Write(data, static_cast<u32>(size < 5000 ? size : 5000), nullptr);
    delete made;
  }
  fs->CreateDir("", "dir");
  fs->Rename("file", "dir\\moved");
  fs->Delete("dir\\moved");
  fs->RemoveDir("", "dir");
  visited = 0;
  Walk(fs, "", 0, &visited);
  delete fs;
  return 0;
}
