// Disk files and the disk service: the bridge to the operating system's file system. Every
// operating-system call goes through the table in file/disk_os.h, so tests can inject failures.
#pragma once

#include "file/file_service.h"
#include "file/os_handle.h"

// A file that is being written to replace another has the other's name followed by this, in
// the same folder, until it takes the other's place; one found later was left by a run that
// was stopped. Pack members never have such a name.
inline constexpr char kReplacementSuffix[] = ".vp~";

// A file on disk. It reports the class name "CFile": it has no name of its own.
class CDiskFile : public CFile {
 public:
  // Takes ownership of the handle; closes it when destroyed. openFlags keeps the low 16 bits.
  CDiskFile(OsHandle handle, u32 flags);
  ~CDiskFile() override;

  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  // Origin SEEK_FROM_START takes the offset as an unsigned position (up to 4 GiB - 1).
  ErrorCode Seek(i32 offset, u16 origin) override;
  // 0xFFFFFFFF for a file of 4 GiB or more.
  u32 GetSize() override;
  u32 GetPosition() override;
  ErrorCode Flush() override;
  ErrorCode Truncate() override;
  // PROP_OSHANDLE stores the handle into the OsHandle that value points to (a 32-bit word in
  // the 32-bit build); every other id answers ERR_UNKNOWNPID.
  ErrorCode GetProperty(u32 id, void* value, u32 extra) override;

  OsHandle handle;
};

// The disk service. It has no state and reports the class name "CFileService".
class CDiskFS : public CFileService {
 public:
  ~CDiskFS() override;

  CFile* Open(const char* path, u16 flags, ErrorCode* error) override;
  u32 Exists(const char* path) override;
  ErrorCode Delete(const char* path) override;
  ErrorCode Rename(const char* oldPath, const char* newPath) override;
  ErrorCode CreateDir(const char* parent, const char* name) override;
  ErrorCode RemoveDir(const char* parent, const char* name) override;
  ErrorCode FindFirst(FindRecord* record, const char* directory) override;
  ErrorCode FindNext(FindRecord* record) override;
  ErrorCode FindClose(FindRecord* record) override;
  ErrorCode QueryInfo(const char* path, u32 id, void* buffer) override;
  // Written through: the new name is on the disk when it returns.
  ErrorCode Replace(const char* oldPath, const char* newPath) override;
  ErrorCode RenameOpen(CFile* open, const char* oldPath, const char* newPath) override;
};

// Start: raises the handle count to 64 and mounts one CDiskFS under the empty prefix; when the
// service cannot be made or mounted it returns the error and mounts nothing. Exit: unmounts
// the empty prefix and destroys what was mounted there.
ErrorCode StartDiskService();
ErrorCode ExitDiskService();
