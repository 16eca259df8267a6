// Read-only file service over a pack file: a sorted, front-coded directory of upper-case member
// names with backslash separators, followed by the members' data. Mounting reads the directory
// once into a memory block; lookups then work in memory and members read from the pack file.
#pragma once

#include "core/name_index.h"
#include "file/file_service.h"

// Bytes of the find work area: the full name reached last (0..255), then the name of the
// subdirectory being reported (256..511; a directory component can be up to 254 bytes long).
constexpr u32 kPackFindAreaSize = 512;
constexpr u32 kPackFindSubdirOffset = 256;

class CPackFS : public CFileService {
  VORN_DECLARE_CLASS(CPackFS, CFileService, CLASS_CPACKFS)

 public:
  CPackFS() = default;
  ~CPackFS() override;  // destroys the pack file, the index and the mount name

  // Takes ownership of `file` whether or not the mount succeeds; a previous pack is dropped first.
  // Errors: the header read's error; "Unknown error" for a wrong magic; EOF when the directory
  // size in the header passes the end of the file; ALLOCFAIL; LOCKFAIL; the directory read's
  // error. A directory size of 0 mounts an empty pack. Entries the name index cannot use end
  // the list there (see core/name_index.h).
  ErrorCode Mount(CFile* file);
  // For a pack whose every member is to be used, as the patcher copies its payload whole:
  // INVALIDFORMAT unless the index took every entry the header counts and the whole directory,
  // no name has a lower-case letter (no lookup reaches it) or an empty component (listings pass
  // it over), and every member's data lie inside the pack. Otherwise members would be left out
  // or cut short without a word.
  ErrorCode CheckWhole();

  // Exact, case-blind (a-z only) lookup. Write access: no file, error ERR_PACK_WRITEACCESS (8001).
  // Absent members, directories and paths over 255 bytes: FILENOTFOUND. A member whose data run
  // past the end of the pack file: INVALIDFORMAT. The member object cannot be created: ALLOCFAIL.
  CFile* Open(const char* path, u16 flags, ErrorCode* error) override;
  // 1 when some member's name begins with the upper-cased path (cut at 255 bytes).
  u32 Exists(const char* path) override;
  // Lists the members and subdirectories directly under `directory` in name order: members with
  // attributes ATTR_READONLY, subdirectories once each with ATTR_DIRECTORY | ATTR_READONLY.
  // Names with an empty component there are passed over. The end of the listing, or no entry
  // under the path: NOTFOUND.
  ErrorCode FindFirst(FindRecord* record, const char* directory) override;
  ErrorCode FindNext(FindRecord* record) override;
  ErrorCode FindClose(FindRecord* record) override;
  // The member's data offset in the pack; 0 with FILENOTFOUND for anything that is not a member.
  u32 GetFileOffset(const char* path, ErrorCode* error) override;

  CFile* PackFile() const { return packFile_; }
  CNameIndex* Index() const { return index_; }

 private:
  friend ErrorCode MountPack(CFile* file, const char* mountName);
  ErrorCode ReportEntry(FindRecord* record);
  // Moves the work area to the next name under the listed directory; false at its end.
  bool StepWithinDirectory(FindRecord* record);
  bool SkipEmptyComponents(FindRecord* record);

  CFile* packFile_ = nullptr;
  CNameIndex* index_ = nullptr;
  u32 directorySize_ = 0;
  char* mountName_ = nullptr;  // the prefix given to the mount table; lives as long as the service
};

// One open member. Reads are positioned reads of the pack file, so any number of members can be
// open at once; a member must not outlive its service.
class CPackFSFile : public CFile {
 public:
  CPackFSFile(CFile* packFile, u32 offset, u32 size);

  // From the position; past the member's end: EOF, or with `done` the bytes up to the end.
  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  // Origins 1 (current) and 2 (end), any other from the start. Any position from 0 to 4 GiB - 1
  // may be set, also past the end; a position outside that range fails with "Unknown error".
  ErrorCode Seek(i32 offset, u16 origin) override;
  u32 GetSize() override { return size_; }
  u32 GetPosition() override { return position_; }
  ErrorCode Flush() override;
  ErrorCode Truncate() override;

 private:
  u32 offset_;
  u32 size_;
  u32 position_ = 0;
};

// Creates a CPackFS, mounts `file` on it, checks it with CheckWhole and registers it under the
// mount name with a backslash appended ("DATA" becomes "DATA\"; an empty name stays empty). On
// any failure nothing stays behind: the file and the service are destroyed. Errors: "Unknown
// error" for no file or a file that is not open; Mount's and CheckWhole's errors; ALLOCFAIL; the
// mount table's error when it is full.
ErrorCode MountPack(CFile* file, const char* mountName);
