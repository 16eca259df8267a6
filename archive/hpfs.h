// A hierarchical file system kept in a handle pool: every file's bytes are one handle, and every
// directory is a handle holding its entries back to back (handle u32, flags u16, name length
// u16, name bytes; little-endian). The root directory's handle is the pool's root value. Over a
// CBFHP this turns one container file into a tree of files and directories. The pool must keep
// a handle's number when it is resized, as CBFHP does, and its handles must fit 32 bits.
#pragma once

#include "file/file_service.h"
#include "file/hp_file.h"

constexpr u16 HPFS_ENTRY_DIRECTORY = 0x01;
constexpr u16 HPFS_ENTRY_ROOT = 0x02;
constexpr u32 kHpfsEntryHeaderSize = 8;
constexpr u32 kHpfsCachePathSize = 256;

class CHPFS;

class CHPFSFile : public CHPFile {
  VORN_DECLARE_CLASS(CHPFSFile, CHPFile, CLASS_CHPFSFILE)

 public:
  CHPFSFile(CHPFS* owner, CHandlePool* pool, PoolHandle handle, u16 flags);
  ~CHPFSFile() override;

 private:
  friend class CHPFS;
  CHPFSFile* nextOpen = nullptr;
  CHPFS* owner;
};

class CHPFS : public CFileService {
  VORN_DECLARE_CLASS(CHPFS, CFileService, CLASS_CHPFS)

 public:
  // Takes ownership of the pool. A pool without a root directory gets an empty one; when the
  // pool cannot make it, the file system stays empty and every lookup fails.
  explicit CHPFS(CHandlePool* pool);
  // Every CHPFSFile of this service must have been deleted before.
  ~CHPFS() override;

  CFile* Open(const char* path, u16 flags, ErrorCode* error) override;
  u32 Exists(const char* path) override;
  ErrorCode Delete(const char* path) override;
  ErrorCode Rename(const char* oldPath, const char* newPath) override;
  ErrorCode CreateDir(const char* parent, const char* name) override;
  ErrorCode RemoveDir(const char* parent, const char* name) override;
  ErrorCode FindFirst(FindRecord* record, const char* directory) override;
  ErrorCode FindNext(FindRecord* record) override;
  ErrorCode FindClose(FindRecord* record) override;

  CHandlePool* Pool() const { return pool; }
  u32 RootHandle() const { return root; }
  // The directory prefix remembered by the last resolution, or "" (for tests).
  const char* CachedPath() const { return cacheHandle ? cachePath : ""; }

 private:
  friend class CHPFSFile;
  struct DirEntry {
    u32 handle;
    u16 flags;
    u16 nameLength;
  };

  ErrorCode FindInDirectory(u32 directory, const char* name, u32 length, DirEntry* entry,
                            u32* offset);
  ErrorCode Resolve(const char* path, u32 length, u32* directory, u32* offset, DirEntry* entry);
  ErrorCode AddEntry(u32 directory, const char* name, u32 length, u32 handle, u16 flags);
  ErrorCode CreateEntryAt(const char* path, u32 handle, u16 flags);
  ErrorCode RemoveEntry(u32 directory, u32 offset, const DirEntry& entry);
  ErrorCode PresentEntry(FindRecord* record, u32 offset);
  void SetCache(const char* prefix, u32 length, u32 directory);
  void EmptyCache();
  bool IsOpen(u32 handle) const;
  ErrorCode NewHandle(u32* handle);

  CHandlePool* pool;
  u32 root = 0;
  CHPFSFile* openFiles = nullptr;
  char cachePath[kHpfsCachePathSize] = {};
  u32 cacheLength = 0;
  u32 cacheHandle = 0;
};
