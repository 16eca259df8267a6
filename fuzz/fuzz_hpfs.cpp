// Attaches arbitrary bytes as an HPFS store, walks the whole tree, reads every file and makes a
// few changes. Work per input is bounded: the walk visits at most kMaxEntries entries and
// kMaxDepth levels (a damaged store may hold directory cycles), and reads go in small chunks.
#include <cstring>
#include <string>
#include <vector>

#include "archive/hpfs.h"
#include "file/bfhp.h"

namespace {

constexpr u32 kMaxEntries = 256;
constexpr int kMaxDepth = 16;

// A fixed-size file in memory: writes inside the input's bytes only, like a disk that is full.
class FuzzFile : public CFile {
 public:
  FuzzFile(const u8* data, size_t size) : CFile(nullptr, 0), bytes(data, data + size) {
    isOpen = 1;
  }
  ErrorCode Read(void* buffer, u32 size, u32* done) override {
    u32 available = position < bytes.size() ? static_cast<u32>(bytes.size()) - position : 0;
    u32 count = size < available ? size : available;
    if (count) std::memcpy(buffer, bytes.data() + position, count);
    position += count;
    if (done) *done = count;
    return count == size ? nullptr : ERR_EOF;
  }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override {
    u64 end = static_cast<u64>(position) + size;
    if (end > bytes.size() + 65536) return ERR_DISKFULL;
    if (end > bytes.size()) bytes.resize(static_cast<size_t>(end));
    if (size) std::memcpy(bytes.data() + position, buffer, size);
    position += size;
    if (done) *done = size;
    return nullptr;
  }
  ErrorCode Seek(i32 offset, u16 origin) override {
    i64 base = origin == 0 ? 0 : origin == 1 ? position : static_cast<i64>(bytes.size());
    i64 target = base + offset;
    if (target < 0 || target > 0xFFFFFFFFll) return ERR_SEEKFAIL;
    position = static_cast<u32>(target);
    return nullptr;
  }
  u32 GetSize() override { return static_cast<u32>(bytes.size()); }
  u32 GetPosition() override { return position; }
  ErrorCode Truncate() override {
    if (position < bytes.size()) bytes.resize(position);
    return nullptr;
  }

 private:
  std::vector<u8> bytes;
  u32 position = 0;
};

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
  FuzzFile* file = new FuzzFile(data, size);
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
