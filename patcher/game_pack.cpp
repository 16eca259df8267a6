#include "patcher/game_pack.h"

#include <cstring>
#include <new>

#if __has_include("archive/pack_fs.h") && __has_include("archive/lzss_file.h")
#include "archive/lzss_file.h"
#include "archive/pack_fs.h"
#define VORN_HAVE_PACK 1
#endif
#if __has_include("file/bfhp.h") && __has_include("archive/hpfs.h")
#include "archive/hpfs.h"
#include "file/bfhp.h"
#define VORN_HAVE_HPFS 1
#endif

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
#if VORN_HAVE_PACK
  if (std::memcmp(magic, "LZSS", 4) == 0) {
    CFile* stream = new (std::nothrow) CLzssFile(file, 1);
    if (!stream) {
      delete file;
      return nullptr;
    }
    file = stream;
  }
#endif
  delete file;
  return nullptr;
}
