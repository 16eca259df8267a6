// The byte-stream interface shared by every file kind. Files are layered: a file may be built on
// a base file, which it reaches through this same interface and may own.
#pragma once

#include "core/errors.h"
#include "core/object.h"

// Open flags.
constexpr u16 OPEN_READ = 0x01;
constexpr u16 OPEN_WRITE = 0x02;
constexpr u16 OPEN_CREATE = 0x04;
constexpr u16 OPEN_TRUNCATE = 0x08;
constexpr u16 OPEN_SEQUENTIAL = 0x10;
constexpr u16 OPEN_RANDOM = 0x20;
constexpr u16 OPEN_SHARE_READ = 0x40;
constexpr u16 OPEN_SHARE_WRITE = 0x80;
constexpr u16 OPEN_RENAMABLE = 0x100;  // the file may take another name while open (RenameOpen)

// Seek origins.
constexpr u16 SEEK_FROM_START = 0;
constexpr u16 SEEK_FROM_CURRENT = 1;
constexpr u16 SEEK_FROM_END = 2;

// Property ids.
constexpr u32 PROP_OSHANDLE = 0x10000001u;

class CFile : public CObject {
  VORN_DECLARE_CLASS(CFile, CObject, CLASS_CFILE)

 public:
  CFile(CFile* baseFile, u32 ownsBase);
  virtual ~CFile();

  virtual ErrorCode Read(void* buffer, u32 size, u32* done);
  virtual ErrorCode ReadAt(void* buffer, u32 position, u32 size, u32* done);
  virtual ErrorCode Write(const void* buffer, u32 size, u32* done);
  virtual ErrorCode WriteAt(const void* buffer, u32 position, u32 size, u32* done);
  virtual ErrorCode Seek(i32 offset, u16 origin);
  virtual u32 GetSize();
  virtual u32 GetPosition();
  virtual ErrorCode Flush();
  virtual ErrorCode Truncate();
  virtual ErrorCode MoveData(u32 destination, u32 source, u32 count, u32 chunkSize, void* buffer);
  virtual ErrorCode LoadBlock(u32 position, u32 size, void** block);
  virtual ErrorCode FreeBlock(void* block);
  virtual ErrorCode Reserved15();
  virtual ErrorCode Reserved16();
  virtual ErrorCode GetProperty(u32 id, void* value, u32 extra);
  virtual ErrorCode SetProperty(u32 id, void* value, u32 extra);

  u16 openFlags = 0;
  u32 isOpen = 0;
  CFile* baseFile;
  u32 ownsBase;

  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
};
