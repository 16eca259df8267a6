// Every operating-system call of the disk layer goes through one table, g_diskOs. Each backend
// (disk_os_win32.cpp, disk_os_posix.cpp) fills it with its own calls; tests replace entries to
// inject failures and put the backend's table back with DiskOsRestore().
//
// The table speaks one dialect on every platform: the open arguments are the Win32 CreateFileA
// values below, and LastError() answers Win32 error numbers. The POSIX backend translates its
// errno values into that numbering (the table is in disk_os_posix.cpp), so the disk layer turns
// every failure into an ErrorCode with a single translation table.
#pragma once

#include "core/types.h"
#include "file/os_handle.h"

constexpr OsHandle kInvalidOsHandle = ~static_cast<OsHandle>(0);

// Desired access.
constexpr u32 OS_ACCESS_READ = 0x80000000u;
constexpr u32 OS_ACCESS_WRITE = 0x40000000u;
constexpr u32 OS_ACCESS_DELETE = 0x00010000u;  // the open file may be renamed (RenameOpen)
// Share mode.
constexpr u32 OS_SHARE_READ = 0x1;
constexpr u32 OS_SHARE_WRITE = 0x2;
// Creation disposition.
constexpr u32 OS_CREATE_NEW = 1;
constexpr u32 OS_CREATE_ALWAYS = 2;
constexpr u32 OS_OPEN_EXISTING = 3;
// Flags and attributes (access hints).
constexpr u32 OS_HINT_NORMAL = 0x80;
constexpr u32 OS_HINT_SEQUENTIAL = 0x08000000u;
constexpr u32 OS_HINT_RANDOM = 0x10000000u;

// Seek failure value (with LastError() != 0; a seek that lands on 0xFFFFFFFF reports 0 there).
constexpr u32 OS_SEEK_FAILED = 0xFFFFFFFFu;

// Operating-system error numbers (Win32 numbering on every backend).
constexpr u32 OS_ERROR_SUCCESS = 0;
constexpr u32 OS_ERROR_FILE_NOT_FOUND = 2;
constexpr u32 OS_ERROR_PATH_NOT_FOUND = 3;
constexpr u32 OS_ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr u32 OS_ERROR_ACCESS_DENIED = 5;
constexpr u32 OS_ERROR_INVALID_HANDLE = 6;
constexpr u32 OS_ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr u32 OS_ERROR_INVALID_DRIVE = 15;
constexpr u32 OS_ERROR_NOT_SAME_DEVICE = 17;
constexpr u32 OS_ERROR_NO_MORE_FILES = 18;
constexpr u32 OS_ERROR_WRITE_PROTECT = 19;
constexpr u32 OS_ERROR_NOT_READY = 21;
constexpr u32 OS_ERROR_NOT_DOS_DISK = 26;
constexpr u32 OS_ERROR_SHARING_VIOLATION = 32;
constexpr u32 OS_ERROR_FILE_EXISTS = 80;
constexpr u32 OS_ERROR_INVALID_PARAMETER = 87;
constexpr u32 OS_ERROR_DISK_FULL = 112;
constexpr u32 OS_ERROR_INVALID_NAME = 123;
constexpr u32 OS_ERROR_NEGATIVE_SEEK = 131;
constexpr u32 OS_ERROR_DIR_NOT_EMPTY = 145;
constexpr u32 OS_ERROR_ALREADY_EXISTS = 183;
constexpr u32 OS_ERROR_FILENAME_EXCED_RANGE = 206;
constexpr u32 OS_ERROR_DIRECTORY = 267;
constexpr u32 OS_ERROR_IO_DEVICE = 1117;

// Paths are backslash paths; the POSIX backend reads '\' as '/'. Calls that report success
// with a bool return false on failure; LastError() then tells why.
struct DiskOsTable {
  // CreateFileA: returns kInvalidOsHandle on failure.
  OsHandle (*Open)(const char* path, u32 access, u32 share, u32 creation, u32 hints);
  // ReadFile/WriteFile: *done receives the count (also on failure); a read at the end succeeds
  // with a short count.
  bool (*Read)(OsHandle file, void* buffer, u32 size, u32* done);
  bool (*Write)(OsHandle file, const void* buffer, u32 size, u32* done);
  // SetFilePointer with its high part: a 64-bit distance; method 0 start, 1 current, 2 end.
  // Positions are 32-bit, so a seek that would land before the start or at 4 GiB or beyond
  // fails and leaves the position. Returns the new position, or OS_SEEK_FAILED.
  u32 (*Seek)(OsHandle file, i64 offset, u32 method);
  // GetFileSize with its high part: the size; 0xFFFFFFFF on failure and for a file of 4 GiB or
  // more, which a 32-bit size cannot hold (its low part would pass for a small file).
  u32 (*Size)(OsHandle file);
  bool (*Flush)(OsHandle file);
  bool (*SetEnd)(OsHandle file);  // the file ends at the current position
  bool (*Close)(OsHandle file);
  bool (*Remove)(const char* path);
  bool (*Rename)(const char* from, const char* to);  // fails when `to` exists
  bool (*MakeDir)(const char* path);
  bool (*RemoveDir)(const char* path);
  // FindFirstFileA/FindNextFileA/FindClose. findData is a block of kOsFindDataSize bytes that
  // the entry's name and attributes are read from (OsFindName, OsFindAttributes).
  OsHandle (*FindFirst)(const char* pattern, void* findData);
  bool (*FindNext)(OsHandle search, void* findData);
  bool (*FindEnd)(OsHandle search);
  // OpenFile with OF_EXIST: true when an existing file can be opened. Paths of more than 127
  // characters are answered with false on every backend (the Win32 call's own limit).
  bool (*Exists)(const char* path);
  // GetFullPathNameA: the length written (without its NUL) when it fits into capacity bytes,
  // else the capacity needed (with the NUL); 0 on failure.
  u32 (*FullPath)(const char* path, u32 capacity, char* buffer);
  u32 (*SetHandleCount)(u32 count);
  u32 (*LastError)();
  // MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: `from` takes the place
  // of `to` in one step, whether or not `to` exists, and the new name is on the disk when the
  // call returns. Both name files on the same volume. Fails, changing nothing, while another
  // program holds `to` open.
  bool (*Replace)(const char* from, const char* to);
  // As Rename, for the file `from` that `file` holds open with OS_ACCESS_DELETE: Windows renames
  // through the handle, sparing a second open of `from`.
  bool (*RenameOpen)(OsHandle file, const char* from, const char* to);
};

// The table in force. Production code never changes it.
extern DiskOsTable g_diskOs;
// Puts the backend's own table back into g_diskOs.
void DiskOsRestore();

// Layout of the backend's find-data block.
extern const u32 kOsFindDataSize;
u32 OsFindAttributes(const void* findData);  // raw attribute bits in the ATTR_* values
char* OsFindName(void* findData);            // NUL-terminated name inside the block

// Longest path (without NUL) that Exists() accepts.
constexpr u32 kOsExistsMaxPath = 127;
