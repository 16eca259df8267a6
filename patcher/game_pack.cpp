#include "patcher/game_pack.h"

#include <cstring>
#include <new>

#include "archive/hpfs.h"
#include "archive/lzss_file.h"
#include "archive/pack_fs.h"
#include "file/bfhp.h"

namespace {

// An HPFS block file as a file system; null (the file still the caller's) when it is none.
CFileService* OpenStore(CFile* file) {
  CBFHP* store = new (std::nothrow) CBFHP();
  if (!store) return nullptr;
  if (store->Attach(file)) {
    delete store;
    return nullptr;
  }
  // From here the store owns the file, and the file system the store.
  CHPFS* files = new (std::nothrow) CHPFS(store);
  if (!files) delete store;
  return files;
}

// A pack as a file system; the file is the pack's (or gone) afterwards, either way.
CFileService* OpenPack(CFile* file) {
  CPackFS* pack = new (std::nothrow) CPackFS();
  if (!pack) {
    delete file;
    return nullptr;
  }
  if (pack->Mount(file)) {
    delete pack;
    return nullptr;
  }
  return pack;
}

}  // namespace

CFileService* MountGamePack(const char* path) {
  ErrorCode error = nullptr;
  CFile* file = FileServiceTable.Open(path, OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, &error);
  if (!file) return nullptr;
  char magic[4] = {0, 0, 0, 0};
  u32 done = 0;
  error = file->Read(magic, 4, &done);
  file->Seek(0, SEEK_FROM_START);
  if (error) {
    delete file;
    return nullptr;
  }
  if (std::memcmp(magic, "LZSS", 4) == 0) {
    CFile* stream = new (std::nothrow) CLzssFile(file, 1);
    if (!stream) {
      delete file;
      return nullptr;
    }
    file = stream;
  }
  if (CFileService* store = OpenStore(file)) return store;
  return OpenPack(file);
}
