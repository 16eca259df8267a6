#include "file/disk_file.h"

#include <cstring>
#include <new>

#include "core/pools.h"
#include "file/disk_os.h"

namespace {

// Attribute bits that have a name in the find record; every other bit is dropped.
constexpr u32 kKnownAttributes = ATTR_READONLY | ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY |
                                 ATTR_ARCHIVE | ATTR_NORMAL | ATTR_TEMPORARY | ATTR_COMPRESSED;

constexpr u32 kJoinedPathBuffer = 256;
constexpr u32 kPatternBuffer = 512;
constexpr u32 kFullPathBuffer = 256;

ErrorCode TranslateOsError(u32 osError, ErrorCode fallback) {
  switch (osError) {
    case OS_ERROR_SUCCESS:
      return nullptr;
    case OS_ERROR_FILE_NOT_FOUND:
      return ERR_FILENOTFOUND;
    case OS_ERROR_PATH_NOT_FOUND:
      return ERR_PATHNOTFOUND;
    case OS_ERROR_TOO_MANY_OPEN_FILES:
      return ERR_TOOMANYOPENFILES;
    case OS_ERROR_ACCESS_DENIED:
      return ERR_ACCESSDENIED;
    case OS_ERROR_INVALID_DRIVE:
      return ERR_VOLUMENOTFOUND;
    case OS_ERROR_NO_MORE_FILES:
      return ERR_NOMOREFILES;
    case OS_ERROR_WRITE_PROTECT:
      return ERR_WRITEPROTECTED;
    case OS_ERROR_NOT_READY:
      return ERR_NOTREADY;
    case OS_ERROR_NOT_DOS_DISK:
      return ERR_BADVOLUME;
    case OS_ERROR_SHARING_VIOLATION:
      return ERR_SHARING;
    case OS_ERROR_FILE_EXISTS:
      return ERR_FILEEXIST;
    case OS_ERROR_DISK_FULL:
      return ERR_DISKFULL;
    case OS_ERROR_NEGATIVE_SEEK:
      return ERR_SEEKFAIL;
    case OS_ERROR_ALREADY_EXISTS:
      return ERR_ALREADYEXISTS;
    default:
      return fallback;
  }
}

// The code for a call that has failed. A failed call whose error number reads 0 still failed,
// so it gets the operation's fallback rather than success.
ErrorCode FailureCode(ErrorCode fallback) {
  ErrorCode code = TranslateOsError(g_diskOs.LastError(), fallback);
  return code ? code : fallback;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Copies `directory`, a backslash unless it is empty or ends with one, and `tail` into a
// buffer of `capacity` bytes. False (buffer untouched beyond what fits) when it does not fit.
bool JoinPath(char* buffer, u32 capacity, const char* directory, const char* tail) {
  size_t directoryLength = std::strlen(directory);
  bool separator = directoryLength != 0 && directory[directoryLength - 1] != '\\';
  size_t total = directoryLength + (separator ? 1 : 0) + std::strlen(tail);
  if (total >= capacity) return false;
  std::memcpy(buffer, directory, directoryLength);
  char* end = buffer + directoryLength;
  if (separator) *end++ = '\\';
  std::strcpy(end, tail);
  return true;
}

// The joined path of CreateDir and RemoveDir; the name must be one path component.
ErrorCode JoinParentAndName(char* joined, const char* parent, const char* name) {
  if (!parent || !name) return ERR_BADPARAMS;
  if (std::strpbrk(name, "\\:")) return ERR_BADPARAMS;
  if (!JoinPath(joined, kJoinedPathBuffer, parent, name)) return ERR_BADPARAMS;
  return nullptr;
}

void ClearRecord(FindRecord* record) { std::memset(record, 0, sizeof(*record)); }

void ShowEntry(FindRecord* record) {
  record->attributes = OsFindAttributes(record->data) & kKnownAttributes;
  record->name = OsFindName(record->data);
}

}  // namespace

CDiskFile::CDiskFile(OsHandle osHandle, u32 flags) : CFile(nullptr, 1), handle(osHandle) {
  isOpen = 1;
  openFlags = static_cast<u16>(flags);
}

CDiskFile::~CDiskFile() { g_diskOs.Close(handle); }

ErrorCode CDiskFile::Read(void* buffer, u32 size, u32* done) {
  u32 localDone = 0;
  if (!done) done = &localDone;
  if (!g_diskOs.Read(handle, buffer, size, done)) return FailureCode(ERR_READFAIL);
  return *done == size ? nullptr : ERR_EOF;
}

ErrorCode CDiskFile::Write(const void* buffer, u32 size, u32* done) {
  u32 localDone = 0;
  if (!done) done = &localDone;
  if (!g_diskOs.Write(handle, buffer, size, done)) return FailureCode(ERR_WRITEFAIL);
  return nullptr;
}

ErrorCode CDiskFile::Seek(i32 offset, u16 origin) {
  // From the start the distance is a position, and positions are unsigned: ReadAt and WriteAt
  // reach 2 GiB and beyond this way.
  const i64 distance =
      origin == SEEK_FROM_START ? static_cast<i64>(static_cast<u32>(offset)) : offset;
  if (g_diskOs.Seek(handle, distance, origin) != OS_SEEK_FAILED) return nullptr;
  // A seek that lands on 0xFFFFFFFF returns that value too; only an error number tells.
  return TranslateOsError(g_diskOs.LastError(), ERR_SEEKFAIL);
}

u32 CDiskFile::GetSize() { return g_diskOs.Size(handle); }

u32 CDiskFile::GetPosition() { return g_diskOs.Seek(handle, 0, SEEK_FROM_CURRENT); }

ErrorCode CDiskFile::Flush() {
  return g_diskOs.Flush(handle) ? nullptr : FailureCode(ERR_FLUSHFAIL);
}

ErrorCode CDiskFile::Truncate() {
  return g_diskOs.SetEnd(handle) ? nullptr : FailureCode(ERR_TRUNCFAIL);
}

ErrorCode CDiskFile::GetProperty(u32 id, void* value, u32) {
  if (id != PROP_OSHANDLE) return ERR_UNKNOWNPID;
  if (!value) return ERR_BADPARAMS;
  *static_cast<OsHandle*>(value) = handle;
  return nullptr;
}

CDiskFS::~CDiskFS() = default;

CFile* CDiskFS::Open(const char* path, u16 flags, ErrorCode* error) {
  if (error) *error = nullptr;
  if (!path) {
    if (error) *error = ERR_BADPARAMS;
    return nullptr;
  }
  u32 access = 0;
  if (flags & OPEN_READ) access |= OS_ACCESS_READ;
  if (flags & OPEN_WRITE) access |= OS_ACCESS_WRITE;
  if (flags & OPEN_RENAMABLE) access |= OS_ACCESS_DELETE;
  u32 creation = OS_OPEN_EXISTING;
  if (flags & OPEN_CREATE) creation = (flags & OPEN_TRUNCATE) ? OS_CREATE_ALWAYS : OS_CREATE_NEW;
  u32 hints = OS_HINT_NORMAL;
  if (flags & OPEN_SEQUENTIAL) {
    hints = OS_HINT_SEQUENTIAL;
  } else if (flags & OPEN_RANDOM) {
    hints = OS_HINT_RANDOM;
  }
  u32 share = 0;
  if (flags & OPEN_SHARE_READ) share |= OS_SHARE_READ;
  if (flags & OPEN_SHARE_WRITE) share |= OS_SHARE_WRITE;

  OsHandle handle = g_diskOs.Open(path, access, share, creation, hints);
  u32 osError = g_diskOs.LastError();
  if (handle == kInvalidOsHandle) {
    if (error) {
      ErrorCode code = TranslateOsError(osError, ERR_OPENFAIL);
      *error = code ? code : ERR_OPENFAIL;
    }
    return nullptr;
  }
  CDiskFile* file = new (std::nothrow) CDiskFile(handle, flags);
  if (!file) {
    // Without an object nobody would ever close the handle.
    g_diskOs.Close(handle);
    if (error) *error = ERR_NOTENOUGHMEM;
    return nullptr;
  }
  return file;
}

u32 CDiskFS::Exists(const char* path) {
  if (!path || std::strlen(path) > kOsExistsMaxPath) return 0;
  return g_diskOs.Exists(path) ? 1 : 0;
}

ErrorCode CDiskFS::Delete(const char* path) {
  if (!path) return ERR_BADPARAMS;
  return g_diskOs.Remove(path) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::Rename(const char* oldPath, const char* newPath) {
  if (!oldPath || !newPath) return ERR_BADPARAMS;
  return g_diskOs.Rename(oldPath, newPath) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::Replace(const char* oldPath, const char* newPath) {
  if (!oldPath || !newPath) return ERR_BADPARAMS;
  return g_diskOs.Replace(oldPath, newPath) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::RenameOpen(CFile* open, const char* oldPath, const char* newPath) {
  OsHandle handle = kInvalidOsHandle;
  if (!open || !oldPath || !newPath || open->GetProperty(PROP_OSHANDLE, &handle, 0)) {
    return ERR_BADPARAMS;
  }
  return g_diskOs.RenameOpen(handle, oldPath, newPath) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::CreateDir(const char* parent, const char* name) {
  char joined[kJoinedPathBuffer];
  if (ErrorCode error = JoinParentAndName(joined, parent, name)) return error;
  return g_diskOs.MakeDir(joined) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::RemoveDir(const char* parent, const char* name) {
  char joined[kJoinedPathBuffer];
  if (ErrorCode error = JoinParentAndName(joined, parent, name)) return error;
  return g_diskOs.RemoveDir(joined) ? nullptr : FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::FindFirst(FindRecord* record, const char* directory) {
  if (!record || !directory) return ERR_BADPARAMS;
  ClearRecord(record);
  char pattern[kPatternBuffer];
  if (!JoinPath(pattern, kPatternBuffer, directory, "*.*")) return ERR_BADPARAMS;
  void* data = g_ptrPool->Alloc(kOsFindDataSize);
  if (!data) return ERR_NOTENOUGHMEM;
  OsHandle search = g_diskOs.FindFirst(pattern, data);
  if (search == kInvalidOsHandle) {
    ErrorCode error = FailureCode(ERR_FILE);
    g_ptrPool->Free(data);
    return error;
  }
  record->service = this;
  record->cursor = search;
  record->data = data;
  ShowEntry(record);
  if (IsDotOrDotDot(record->name)) return FindNext(record);
  return nullptr;
}

ErrorCode CDiskFS::FindNext(FindRecord* record) {
  if (!record || !record->data) return ERR_BADPARAMS;
  while (g_diskOs.FindNext(record->cursor, record->data)) {
    ShowEntry(record);
    if (!IsDotOrDotDot(record->name)) return nullptr;
  }
  return FailureCode(ERR_FILE);
}

ErrorCode CDiskFS::FindClose(FindRecord* record) {
  if (!record || !record->data) return ERR_BADPARAMS;
  bool closed = g_diskOs.FindEnd(record->cursor);
  ErrorCode error = closed ? nullptr : FailureCode(ERR_FILE);
  g_ptrPool->Free(record->data);
  ClearRecord(record);
  return error;
}

ErrorCode CDiskFS::QueryInfo(const char* path, u32 id, void* buffer) {
  if (id != INFO_FULLPATH) return ERR_NOTIMPLEMENTED;
  if (!path || !buffer) return ERR_BADPARAMS;
  char* text = static_cast<char*>(buffer);
  u32 length = g_diskOs.FullPath(path, kFullPathBuffer, text);
  if (length == 0) return FailureCode(ERR_UNKNOWN);
  // The terminating zero goes at text[length], so length 256 would already be one too far.
  if (length >= kFullPathBuffer) return ERR_UNKNOWN;
  text[length] = '\0';
  return nullptr;
}

ErrorCode StartDiskService() {
  g_diskOs.SetHandleCount(64);
  CDiskFS* service = new (std::nothrow) CDiskFS();
  if (!service) return ERR_NOTENOUGHMEM;
  if (ErrorCode error = MountService("", service)) {
    delete service;
    return error;
  }
  return nullptr;
}

ErrorCode ExitDiskService() {
  delete UnmountService("");
  return nullptr;
}
