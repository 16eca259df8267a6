// A file service turns paths into files and lists directories of one storage. Services are
// mounted under path prefixes; the global entry points resolve a path to the service with the
// longest matching prefix (ASCII case ignored) and hand it the rest of the path.
#pragma once

#include "file/file.h"

constexpr u32 ATTR_READONLY = 0x01;
constexpr u32 ATTR_HIDDEN = 0x02;
constexpr u32 ATTR_SYSTEM = 0x04;
constexpr u32 ATTR_DIRECTORY = 0x10;
constexpr u32 ATTR_ARCHIVE = 0x20;
constexpr u32 ATTR_NORMAL = 0x80;
constexpr u32 ATTR_TEMPORARY = 0x100;
constexpr u32 ATTR_COMPRESSED = 0x800;

constexpr u32 INFO_FULLPATH = 0x02DF88EFu;

class CFileService;

struct FindRecord {
  CFileService* service;
  uintptr_t cursor;  // private to the service
  void* data;        // private to the service, owned by it until FindClose
  u32 attributes;
  char* name;  // current entry's name, valid until the next FindNext or FindClose
};

class CFileService : public CObject {
  VORN_DECLARE_CLASS(CFileService, CObject, CLASS_CFILESERVICE)

 public:
  CFileService() = default;
  virtual ~CFileService();

  virtual CFile* Open(const char* path, u16 flags, ErrorCode* error);
  virtual u32 Exists(const char* path);
  virtual ErrorCode Delete(const char* path);
  virtual ErrorCode Rename(const char* oldPath, const char* newPath);
  virtual ErrorCode CreateDir(const char* parent, const char* name);
  virtual ErrorCode RemoveDir(const char* parent, const char* name);
  virtual ErrorCode FindFirst(FindRecord* record, const char* directory);
  virtual ErrorCode FindNext(FindRecord* record);
  virtual ErrorCode FindClose(FindRecord* record);
  virtual ErrorCode QueryInfo(const char* path, u32 id, void* buffer);
  virtual ErrorCode Reserved13(const char* path, u32 a, u32 b);
  virtual u32 GetFileOffset(const char* path, ErrorCode* error);
  // Puts the file at oldPath in the place of newPath in one step, replacing a file there: a
  // reader sees the old file or the new one, never a mix. Both paths lie in one folder.
  virtual ErrorCode Replace(const char* oldPath, const char* newPath);
  // As Rename, for the file at oldPath that `open` holds, opened with OPEN_RENAMABLE.
  virtual ErrorCode RenameOpen(CFile* open, const char* oldPath, const char* newPath);

  CFileService(const CFileService&) = delete;
  CFileService& operator=(const CFileService&) = delete;
};

// Mount table.
ErrorCode InitMountTable(u32 capacity);
// Returns ERR_OUTOFRANGE (and mounts nothing) when the table is full or not initialised.
ErrorCode MountService(const char* prefix, CFileService* service);
// Advances *path past the matched prefix; null (path untouched) when nothing matches.
CFileService* ResolvePath(const char** path);
CFileService* UnmountService(const char* prefix);
ErrorCode ShutdownMountTable();

// The global entry points.
struct FileServiceTableType {
  CFile* (*Open)(const char* path, u16 flags, ErrorCode* error);
  ErrorCode (*Delete)(const char* path);
  ErrorCode (*Rename)(const char* oldPath, const char* newPath);
  ErrorCode (*FindFirst)(FindRecord* record, const char* directory);
  ErrorCode (*FindNext)(FindRecord* record);
  ErrorCode (*FindClose)(FindRecord* record);
  ErrorCode (*CreateDir)(const char* parent, const char* name);
  ErrorCode (*RemoveDir)(const char* parent, const char* name);
  u32 (*Exists)(const char* path);
  ErrorCode (*QueryInfo)(const char* path, u32 id, void* buffer);
  ErrorCode (*Reserved13)(const char* path, u32 a, u32 b);
  // As Rename: both paths must reach the same service.
  ErrorCode (*Replace)(const char* oldPath, const char* newPath);
  ErrorCode (*RenameOpen)(CFile* open, const char* oldPath, const char* newPath);
};

extern const FileServiceTableType FileServiceTable;
