// The disk layer's operating-system calls on Windows: the Win32 ANSI file functions, called
// as they are; their arguments already are what the table passes, and GetLastError's numbers
// are the table's error numbers.
#include <cstddef>

#include "file/disk_os.h"
#include "file/win32_api.h"

namespace {

// The find-data block is the Win32 record. Its fields end after 318 bytes; the structure is
// padded to 320, and FindFirstFileA may write the whole structure, so the block is that large.
static_assert(offsetof(WIN32_FIND_DATAA, cFileName) == 44, "find-data layout");
static_assert(offsetof(WIN32_FIND_DATAA, cAlternateFileName) + 14 == 318, "find-data layout");

HANDLE ToHandle(OsHandle handle) { return reinterpret_cast<HANDLE>(handle); }
OsHandle FromHandle(HANDLE handle) { return reinterpret_cast<OsHandle>(handle); }

OsHandle Win32Open(const char* path, u32 access, u32 share, u32 creation, u32 hints) {
  return FromHandle(CreateFileA(path, access, share, nullptr, creation, hints, nullptr));
}

bool Win32Read(OsHandle file, void* buffer, u32 size, u32* done) {
  DWORD count = 0;
  BOOL ok = ReadFile(ToHandle(file), buffer, size, &count, nullptr);
  *done = count;
  return ok != FALSE;
}

bool Win32Write(OsHandle file, const void* buffer, u32 size, u32* done) {
  DWORD count = 0;
  BOOL ok = WriteFile(ToHandle(file), buffer, size, &count, nullptr);
  *done = count;
  return ok != FALSE;
}

u32 Win32Seek(OsHandle file, i64 offset, u32 method) {
  HANDLE handle = ToHandle(file);
  LONG wasHigh = 0;
  const DWORD was = SetFilePointer(handle, 0, &wasHigh, FILE_CURRENT);
  // SetFilePointer returns 0xFFFFFFFF also for a position that is 0xFFFFFFFF; a cleared error
  // number is what tells the two apart.
  SetLastError(NO_ERROR);
  LONG high = static_cast<LONG>(offset >> 32);
  const DWORD low = SetFilePointer(handle, static_cast<LONG>(offset), &high, method);
  if (high == 0 || GetLastError() != NO_ERROR) return low;
  // At 4 GiB or beyond, where a 32-bit position cannot follow: back to where the file was.
  SetFilePointer(handle, static_cast<LONG>(was), &wasHigh, FILE_BEGIN);
  SetLastError(ERROR_INVALID_PARAMETER);
  return OS_SEEK_FAILED;
}

u32 Win32Size(OsHandle file) {
  DWORD high = 0;
  const DWORD low = GetFileSize(ToHandle(file), &high);
  return high ? 0xFFFFFFFFu : low;
}
bool Win32Flush(OsHandle file) { return FlushFileBuffers(ToHandle(file)) != FALSE; }
bool Win32SetEnd(OsHandle file) { return SetEndOfFile(ToHandle(file)) != FALSE; }
bool Win32Close(OsHandle file) { return CloseHandle(ToHandle(file)) != FALSE; }
bool Win32Remove(const char* path) { return DeleteFileA(path) != FALSE; }
bool Win32Rename(const char* from, const char* to) { return MoveFileA(from, to) != FALSE; }
bool Win32MakeDir(const char* path) { return CreateDirectoryA(path, nullptr) != FALSE; }
bool Win32RemoveDir(const char* path) { return RemoveDirectoryA(path) != FALSE; }

OsHandle Win32FindFirst(const char* pattern, void* findData) {
  return FromHandle(FindFirstFileA(pattern, static_cast<WIN32_FIND_DATAA*>(findData)));
}

bool Win32FindNext(OsHandle search, void* findData) {
  return FindNextFileA(ToHandle(search), static_cast<WIN32_FIND_DATAA*>(findData)) != FALSE;
}

bool Win32FindEnd(OsHandle search) { return ::FindClose(ToHandle(search)) != FALSE; }

bool Win32Exists(const char* path) {
  // OpenFile keeps the path in its 128-byte record; longer paths fail.
  OFSTRUCT scratch = {};
  return OpenFile(path, &scratch, OF_EXIST) != HFILE_ERROR;
}

u32 Win32FullPath(const char* path, u32 capacity, char* buffer) {
  return GetFullPathNameA(path, capacity, buffer, nullptr);
}

u32 Win32SetHandleCount(u32 count) { return SetHandleCount(count); }
u32 Win32LastError() { return GetLastError(); }

bool Win32Replace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

// The handle names the file, so only the new name is passed, in UTF-16 through the code page as
// SetFileInformationByHandle takes it. ANSI paths stay within MAX_PATH; this holds four times
// that.
bool Win32RenameOpen(OsHandle file, const char*, const char* to) {
  constexpr int kNameChars = 4 * MAX_PATH;
  union {
    FILE_RENAME_INFO info;
    BYTE bytes[sizeof(FILE_RENAME_INFO) + kNameChars * sizeof(WCHAR)];
  } rename;
  const int length = MultiByteToWideChar(CP_ACP, 0, to, -1, rename.info.FileName, kNameChars);
  if (length <= 0) return false;
  rename.info.ReplaceIfExists = FALSE;
  rename.info.RootDirectory = nullptr;
  rename.info.FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
  return SetFileInformationByHandle(ToHandle(file), FileRenameInfo, &rename, sizeof rename) !=
         FALSE;
}

const DiskOsTable kWin32Table = {
    Win32Open,      Win32Read,     Win32Write,      Win32Seek,   Win32Size,     Win32Flush,
    Win32SetEnd,    Win32Close,    Win32Remove,     Win32Rename, Win32MakeDir,  Win32RemoveDir,
    Win32FindFirst, Win32FindNext, Win32FindEnd,    Win32Exists, Win32FullPath, Win32SetHandleCount,
    Win32LastError, Win32Replace,  Win32RenameOpen,
};

}  // namespace

DiskOsTable g_diskOs = kWin32Table;

void DiskOsRestore() { g_diskOs = kWin32Table; }

const u32 kOsFindDataSize = sizeof(WIN32_FIND_DATAA);

u32 OsFindAttributes(const void* findData) {
  return static_cast<const WIN32_FIND_DATAA*>(findData)->dwFileAttributes;
}

char* OsFindName(void* findData) { return static_cast<WIN32_FIND_DATAA*>(findData)->cFileName; }
