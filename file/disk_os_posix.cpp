// The disk layer's operating-system calls on POSIX systems. Each call behaves as its Win32
// counterpart does as far as callers can tell, and failures leave a Win32 error number for
// LastError(), so the disk layer above needs no second translation table.
//
// errno -> error number (and so -> ErrorCode), by operation:
//   ENOENT        open, delete, rename, rmdir: FILE_NOT_FOUND (2) when the parent directory
//                 exists, else PATH_NOT_FOUND (3); mkdir and directory search: PATH_NOT_FOUND
//   ENOTDIR       PATH_NOT_FOUND (3); rmdir of a file: DIRECTORY (267, fallback)
//   EACCES, EPERM, EISDIR    ACCESS_DENIED (5)
//   EEXIST        open with CREATE_NEW: FILE_EXISTS (80); mkdir and rename: ALREADY_EXISTS
//                 (183); rmdir: DIR_NOT_EMPTY (145, fallback), as Windows reports each
//   ENOTEMPTY     DIR_NOT_EMPTY (145, the operation's fallback)
//   ENOSPC, EDQUOT           DISK_FULL (112)
//   EMFILE, ENFILE           TOO_MANY_OPEN_FILES (4)
//   EROFS         WRITE_PROTECT (19)
//   EBUSY, ETXTBSY           SHARING_VIOLATION (32)
//   EBADF         read, write, set end on a descriptor opened without that access:
//                 ACCESS_DENIED (5), as Windows refuses such a handle; else INVALID_HANDLE (6)
//   EINVAL        seek to a negative position: NEGATIVE_SEEK (131); else INVALID_PARAMETER (87)
//   ENAMETOOLONG  FILENAME_EXCED_RANGE (206, fallback)
//   ENOMEM        NOT_ENOUGH_MEMORY (8, fallback)
//   EXDEV         NOT_SAME_DEVICE (17, fallback)
//   ENXIO, ENODEV, ENOMEDIUM NOT_READY (21)
//   anything else IO_DEVICE (1117, fallback)
//
// Where POSIX has no counterpart:
// - Share modes are accepted and ignored. POSIX has no mandatory sharing; advisory locks would
//   only bind programs that ask for them and would add failures of their own (network file
//   systems), so concurrent openers are not refused.
// - Access 0 (neither read nor write) opens the file read-only: POSIX has no descriptor that
//   allows only queries and seeks.
// - A directory cannot be opened as a file (Windows refuses with ACCESS_DENIED; so does this).
// - The access hints become posix_fadvise advice; failing advice is ignored.
// - Exists() keeps OpenFile's limit of 127 characters so that both builds answer alike; like
//   OpenFile it needs a file that can be opened for reading and says no for a directory. It
//   does not search the program's directories for a bare name, as OpenFile does.
// - There are no drive letters: a path that starts with a letter and a colon is refused with
//   INVALID_DRIVE (15) rather than read as a file name that contains a colon.
// - Full paths are built from the text (as GetFullPathNameA does, without asking whether the
//   path exists) and use '/' separators, the form the system itself shows.
// - Search attributes come from stat: a directory is ATTR_DIRECTORY, a regular file
//   ATTR_ARCHIVE (what Windows shows for a file written since its last backup), anything else
//   ATTR_SYSTEM; without the owner's write permission ATTR_READONLY is added.
// - Rename refuses an existing target as MoveFileA does (checked just before the rename; a
//   target made in between is replaced).
// - Replace is rename(2), which takes the target's place in one step, followed by an fsync of
//   the folder so that the new name is on the disk when it returns (MOVEFILE_WRITE_THROUGH).
//   A file system that cannot sync a folder (EINVAL) is taken at its word. A target that
//   another program holds open is replaced all the same: POSIX has no mandatory sharing.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "file/disk_os.h"
#include "file/file_service.h"

namespace {

thread_local u32 lastError = OS_ERROR_SUCCESS;

enum class Call { kOpen, kCreateNew, kRemove, kRename, kMakeDir, kRemoveDir, kSearch, kIo };

constexpr size_t kNativePathSize = PATH_MAX;

// Converts a backslash path into a native one. False, with the error number set, when the path
// cannot be one.
bool ToNative(const char* path, char* native) {
  if (((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
      path[1] == ':') {
    lastError = OS_ERROR_INVALID_DRIVE;
    return false;
  }
  size_t length = std::strlen(path);
  if (length >= kNativePathSize) {
    lastError = OS_ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  for (size_t i = 0; i <= length; ++i) native[i] = path[i] == '\\' ? '/' : path[i];
  return true;
}

bool IsDirectory(const char* native) {
  struct stat info;
  return stat(native, &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether the directory that holds `native` exists; an ENOENT there means the file is missing
// (FILE_NOT_FOUND) rather than a directory on the way (PATH_NOT_FOUND).
bool ParentExists(const char* native) {
  char parent[kNativePathSize];
  std::strcpy(parent, native);
  size_t length = std::strlen(parent);
  while (length > 1 && parent[length - 1] == '/') parent[--length] = '\0';
  char* slash = std::strrchr(parent, '/');
  if (!slash) return true;           // the current directory
  if (slash == parent) return true;  // the root
  *slash = '\0';
  return IsDirectory(parent);
}

bool DescriptorIsOpen(int fd) { return fcntl(fd, F_GETFL) != -1; }

u32 ErrorNumber(int error, Call call, const char* native) {
  switch (error) {
    case 0:
      return OS_ERROR_SUCCESS;
    case ENOENT:
      if (call == Call::kMakeDir || call == Call::kSearch) return OS_ERROR_PATH_NOT_FOUND;
      return native && !ParentExists(native) ? OS_ERROR_PATH_NOT_FOUND : OS_ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      if (call == Call::kRemoveDir && native) {
        struct stat info;
        if (lstat(native, &info) == 0 && !S_ISDIR(info.st_mode)) return OS_ERROR_DIRECTORY;
      }
      return OS_ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
      return OS_ERROR_ACCESS_DENIED;
    case EEXIST:
      if (call == Call::kCreateNew || call == Call::kOpen) return OS_ERROR_FILE_EXISTS;
      if (call == Call::kRemoveDir) return OS_ERROR_DIR_NOT_EMPTY;
      return OS_ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
      return OS_ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
      return OS_ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return OS_ERROR_TOO_MANY_OPEN_FILES;
    case EROFS:
      return OS_ERROR_WRITE_PROTECT;
    case EBUSY:
    case ETXTBSY:
      return OS_ERROR_SHARING_VIOLATION;
    case EBADF:
      return OS_ERROR_INVALID_HANDLE;
    case EINVAL:
      return OS_ERROR_INVALID_PARAMETER;
    case ENAMETOOLONG:
      return OS_ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM:
      return OS_ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV:
      return OS_ERROR_NOT_SAME_DEVICE;
    case ENXIO:
    case ENODEV:
    case ENOMEDIUM:
      return OS_ERROR_NOT_READY;
    default:
      return OS_ERROR_IO_DEVICE;
  }
}

bool Fail(int error, Call call, const char* native) {
  lastError = ErrorNumber(error, call, native);
  return false;
}

// A descriptor refuses an operation it was not opened for with EBADF; Windows says
// ACCESS_DENIED for a handle without that access.
bool FailIo(int error, int fd) {
  if (error == EBADF && DescriptorIsOpen(fd)) {
    lastError = OS_ERROR_ACCESS_DENIED;
    return false;
  }
  return Fail(error, Call::kIo, nullptr);
}

int ToDescriptor(OsHandle file) { return static_cast<int>(file); }

OsHandle PosixOpen(const char* path, u32 access, u32, u32 creation, u32 hints) {
  char native[kNativePathSize];
  if (!ToNative(path, native)) return kInvalidOsHandle;
  int flags = O_CLOEXEC;
  bool wantRead = (access & OS_ACCESS_READ) != 0;
  bool wantWrite = (access & OS_ACCESS_WRITE) != 0;
  flags |= wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  Call call = Call::kOpen;
  switch (creation) {
    case OS_CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      call = Call::kCreateNew;
      break;
    case OS_CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OS_OPEN_EXISTING:
      break;
    default:
      lastError = OS_ERROR_INVALID_PARAMETER;
      return kInvalidOsHandle;
  }
  // Opened without blocking, so that a named pipe without a writer cannot hold the caller up;
  // the descriptor blocks as usual afterwards.
  int fd;
  do {
    fd = open(native, flags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Fail(errno, call, native);
    return kInvalidOsHandle;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    lastError = OS_ERROR_ACCESS_DENIED;
    return kInvalidOsHandle;
  }
  if (hints & OS_HINT_SEQUENTIAL) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  } else if (hints & OS_HINT_RANDOM) {
    posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
  }
  lastError = OS_ERROR_SUCCESS;
  return static_cast<OsHandle>(fd);
}

bool PosixRead(OsHandle file, void* buffer, u32 size, u32* done) {
  int fd = ToDescriptor(file);
  u32 total = 0;
  while (total < size) {
    ssize_t count = read(fd, static_cast<char*>(buffer) + total, size - total);
    if (count < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return FailIo(errno, fd);
    }
    if (count == 0) break;  // the end: a short count, not a failure
    total += static_cast<u32>(count);
  }
  *done = total;
  return true;
}

bool PosixWrite(OsHandle file, const void* buffer, u32 size, u32* done) {
  int fd = ToDescriptor(file);
  u32 total = 0;
  while (total < size) {
    ssize_t count = write(fd, static_cast<const char*>(buffer) + total, size - total);
    if (count < 0) {
      if (errno == EINTR) continue;
      *done = total;
      return FailIo(errno, fd);
    }
    total += static_cast<u32>(count);
  }
  *done = total;
  return true;
}

// Computes the target first, so that a seek that SetFilePointer would refuse (before the start,
// or past what 32 bits can say) leaves the position where it was.
u32 PosixSeek(OsHandle file, i64 offset, u32 method) {
  int fd = ToDescriptor(file);
  off_t base = 0;
  if (method == 1) {
    base = lseek(fd, 0, SEEK_CUR);
  } else if (method == 2) {
    struct stat info;
    base = fstat(fd, &info) == 0 ? info.st_size : -1;
  } else if (method != 0) {
    lastError = OS_ERROR_INVALID_PARAMETER;
    return OS_SEEK_FAILED;
  }
  if (base < 0) {
    FailIo(errno, fd);
    return OS_SEEK_FAILED;
  }
  // A distance this long never lands inside 32 bits; refused first, it cannot overflow the sum.
  if (offset > 0xFFFFFFFFll) {
    lastError = OS_ERROR_INVALID_PARAMETER;
    return OS_SEEK_FAILED;
  }
  i64 target = static_cast<i64>(base) + offset;
  if (target < 0) {
    lastError = OS_ERROR_NEGATIVE_SEEK;
    return OS_SEEK_FAILED;
  }
  if (target > 0xFFFFFFFFll) {
    lastError = OS_ERROR_INVALID_PARAMETER;
    return OS_SEEK_FAILED;
  }
  if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
    FailIo(errno, fd);
    return OS_SEEK_FAILED;
  }
  lastError = OS_ERROR_SUCCESS;
  return static_cast<u32>(target);
}

u32 PosixSize(OsHandle file) {
  struct stat info;
  if (fstat(ToDescriptor(file), &info) != 0) {
    FailIo(errno, ToDescriptor(file));
    return 0xFFFFFFFFu;
  }
  return static_cast<u64>(info.st_size) > 0xFFFFFFFFu ? 0xFFFFFFFFu
                                                      : static_cast<u32>(info.st_size);
}

bool PosixFlush(OsHandle file) {
  int fd = ToDescriptor(file);
  return fsync(fd) == 0 || FailIo(errno, fd);
}

bool PosixSetEnd(OsHandle file) {
  int fd = ToDescriptor(file);
  off_t position = lseek(fd, 0, SEEK_CUR);
  if (position < 0) return FailIo(errno, fd);
  if (ftruncate(fd, position) == 0) return true;
  // ftruncate says EINVAL for a descriptor that is open for reading only.
  if (errno == EINVAL && (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) return FailIo(EBADF, fd);
  return FailIo(errno, fd);
}

bool PosixClose(OsHandle file) {
  // After EINTR Linux has closed the descriptor already; trying again could close another.
  if (close(ToDescriptor(file)) == 0 || errno == EINTR) return true;
  return Fail(errno, Call::kIo, nullptr);
}

bool PosixRemove(const char* path) {
  char native[kNativePathSize];
  if (!ToNative(path, native)) return false;
  return unlink(native) == 0 || Fail(errno, Call::kRemove, native);
}

bool PosixRename(const char* from, const char* to) {
  char nativeFrom[kNativePathSize];
  char nativeTo[kNativePathSize];
  if (!ToNative(from, nativeFrom) || !ToNative(to, nativeTo)) return false;
  struct stat info;
  if (lstat(nativeFrom, &info) != 0) return Fail(errno, Call::kRename, nativeFrom);
  if (lstat(nativeTo, &info) == 0) return Fail(EEXIST, Call::kRename, nativeTo);
  return std::rename(nativeFrom, nativeTo) == 0 || Fail(errno, Call::kRename, nativeTo);
}

// POSIX renames by name; the open descriptor keeps the file whatever it is called.
bool PosixRenameOpen(OsHandle, const char* from, const char* to) { return PosixRename(from, to); }

// The fsync of the folder that holds `native`, which makes a rename in it durable.
bool SyncFolderOf(const char* native) {
  char folder[kNativePathSize];
  std::strcpy(folder, native);
  char* slash = std::strrchr(folder, '/');
  if (!slash) {
    std::strcpy(folder, ".");
  } else {
    slash[slash == folder ? 1 : 0] = '\0';
  }
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno, Call::kIo, nullptr);
  bool synced = fsync(fd) == 0 || errno == EINVAL;
  int error = errno;
  close(fd);
  return synced || Fail(error, Call::kIo, nullptr);
}

bool PosixReplace(const char* from, const char* to) {
  char nativeFrom[kNativePathSize];
  char nativeTo[kNativePathSize];
  if (!ToNative(from, nativeFrom) || !ToNative(to, nativeTo)) return false;
  if (std::rename(nativeFrom, nativeTo) != 0) {
    struct stat info;
    return Fail(errno, Call::kRename, lstat(nativeFrom, &info) != 0 ? nativeFrom : nativeTo);
  }
  return SyncFolderOf(nativeTo);
}

bool PosixMakeDir(const char* path) {
  char native[kNativePathSize];
  if (!ToNative(path, native)) return false;
  return mkdir(native, 0777) == 0 || Fail(errno, Call::kMakeDir, native);
}

bool PosixRemoveDir(const char* path) {
  char native[kNativePathSize];
  if (!ToNative(path, native)) return false;
  return rmdir(native) == 0 || Fail(errno, Call::kRemoveDir, native);
}

// The find-data block: the search's directory and wildcard, and the current entry.
struct PosixFindData {
  u32 attributes;
  char name[NAME_MAX + 1];
  char wildcard[NAME_MAX + 1];
  char directory[kNativePathSize];
};

bool MatchesWildcard(const char* wildcard, const char* name) {
  // "*.*" is every name on Windows, names without a dot included.
  if (std::strcmp(wildcard, "*.*") == 0 || std::strcmp(wildcard, "*") == 0) return true;
  return fnmatch(wildcard, name, FNM_NOESCAPE | FNM_CASEFOLD) == 0;
}

u32 AttributesOf(const PosixFindData* data, const char* name) {
  char path[kNativePathSize + NAME_MAX + 2];
  std::strcpy(path, data->directory);
  std::strcat(path, "/");
  std::strcat(path, name);
  struct stat info;
  if (stat(path, &info) != 0 && lstat(path, &info) != 0) return ATTR_ARCHIVE;
  u32 attributes = S_ISDIR(info.st_mode)   ? ATTR_DIRECTORY
                   : S_ISREG(info.st_mode) ? ATTR_ARCHIVE
                                           : ATTR_SYSTEM;
  if (!(info.st_mode & S_IWUSR)) attributes |= ATTR_READONLY;
  return attributes;
}

// Moves to the next entry that matches; false with NO_MORE_FILES at the end.
bool ReadMatchingEntry(DIR* directory, PosixFindData* data) {
  for (;;) {
    errno = 0;
    struct dirent* entry = readdir(directory);
    if (!entry) {
      if (errno) return Fail(errno, Call::kIo, nullptr);
      lastError = OS_ERROR_NO_MORE_FILES;
      return false;
    }
    // Longer names do not exist on the systems we build for; skip rather than cut one.
    if (std::strlen(entry->d_name) >= sizeof(data->name)) continue;
    if (!MatchesWildcard(data->wildcard, entry->d_name)) continue;
    std::strcpy(data->name, entry->d_name);
    data->attributes = AttributesOf(data, entry->d_name);
    lastError = OS_ERROR_SUCCESS;
    return true;
  }
}

OsHandle PosixFindFirst(const char* pattern, void* findData) {
  PosixFindData* data = static_cast<PosixFindData*>(findData);
  char native[kNativePathSize];
  if (!ToNative(pattern, native)) return kInvalidOsHandle;
  char* slash = std::strrchr(native, '/');
  const char* wildcard = slash ? slash + 1 : native;
  if (std::strlen(wildcard) >= sizeof(data->wildcard)) {
    lastError = OS_ERROR_FILENAME_EXCED_RANGE;
    return kInvalidOsHandle;
  }
  std::strcpy(data->wildcard, wildcard);
  if (!slash) {
    std::strcpy(data->directory, ".");
  } else if (slash == native) {
    std::strcpy(data->directory, "/");
  } else {
    *slash = '\0';
    std::strcpy(data->directory, native);
  }
  DIR* directory = opendir(data->directory);
  if (!directory) {
    Fail(errno, Call::kSearch, data->directory);
    return kInvalidOsHandle;
  }
  if (!ReadMatchingEntry(directory, data)) {
    // No entry at all: FindFirstFileA says FILE_NOT_FOUND, not NO_MORE_FILES.
    if (lastError == OS_ERROR_NO_MORE_FILES) lastError = OS_ERROR_FILE_NOT_FOUND;
    closedir(directory);
    return kInvalidOsHandle;
  }
  return reinterpret_cast<OsHandle>(directory);
}

bool PosixFindNext(OsHandle search, void* findData) {
  return ReadMatchingEntry(reinterpret_cast<DIR*>(search), static_cast<PosixFindData*>(findData));
}

bool PosixFindEnd(OsHandle search) {
  return closedir(reinterpret_cast<DIR*>(search)) == 0 || Fail(errno, Call::kIo, nullptr);
}

bool PosixExists(const char* path) {
  char native[kNativePathSize];
  if (std::strlen(path) > kOsExistsMaxPath) {
    lastError = OS_ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  if (!ToNative(path, native)) return false;
  // Non-blocking, so that a named pipe without a writer does not hold the caller up.
  int fd = open(native, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Fail(errno, Call::kOpen, native);
  struct stat info;
  bool isFile = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  close(fd);
  if (!isFile) lastError = OS_ERROR_ACCESS_DENIED;
  return isFile;
}

// Appends one component to the normalised absolute path in `out`, resolving "." and "..".
void AppendComponent(char* out, size_t* length, const char* component, size_t size) {
  if (size == 0 || (size == 1 && component[0] == '.')) return;
  if (size == 2 && component[0] == '.' && component[1] == '.') {
    while (*length > 1 && out[*length - 1] != '/') --*length;
    if (*length > 1) --*length;  // the slash, unless it is the root
    out[*length] = '\0';
    return;
  }
  if (*length > 1) out[(*length)++] = '/';
  std::memcpy(out + *length, component, size);
  *length += size;
  out[*length] = '\0';
}

u32 PosixFullPath(const char* path, u32 capacity, char* buffer) {
  char native[kNativePathSize];
  if (path[0] == '\0') {
    lastError = OS_ERROR_INVALID_NAME;
    return 0;
  }
  if (!ToNative(path, native)) return 0;
  // Room for the working directory, a slash and the path, each at most kNativePathSize.
  static thread_local char full[2 * kNativePathSize + 2];
  size_t length = 1;
  std::strcpy(full, "/");
  if (native[0] != '/') {
    char current[kNativePathSize];
    if (!getcwd(current, sizeof(current))) {
      Fail(errno, Call::kIo, nullptr);
      return 0;
    }
    for (const char* part = current; *part;) {
      const char* end = std::strchr(part, '/');
      size_t size = end ? static_cast<size_t>(end - part) : std::strlen(part);
      AppendComponent(full, &length, part, size);
      part += size + (end ? 1 : 0);
    }
  }
  for (const char* part = native; *part;) {
    const char* end = std::strchr(part, '/');
    size_t size = end ? static_cast<size_t>(end - part) : std::strlen(part);
    AppendComponent(full, &length, part, size);
    part += size + (end ? 1 : 0);
  }
  size_t nativeLength = std::strlen(native);
  if (native[nativeLength - 1] == '/' && length > 1) {
    full[length++] = '/';
    full[length] = '\0';
  }
  lastError = OS_ERROR_SUCCESS;
  if (length + 1 > capacity) return static_cast<u32>(length + 1);
  std::memcpy(buffer, full, length + 1);
  return static_cast<u32>(length);
}

u32 PosixSetHandleCount(u32 count) {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return count;
  if (limit.rlim_cur < count && (limit.rlim_max == RLIM_INFINITY || count <= limit.rlim_max)) {
    limit.rlim_cur = count;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur >= count ? count : static_cast<u32>(limit.rlim_cur);
}

u32 PosixLastError() { return lastError; }

const DiskOsTable kPosixTable = {
    PosixOpen,      PosixRead,     PosixWrite,      PosixSeek,   PosixSize,     PosixFlush,
    PosixSetEnd,    PosixClose,    PosixRemove,     PosixRename, PosixMakeDir,  PosixRemoveDir,
    PosixFindFirst, PosixFindNext, PosixFindEnd,    PosixExists, PosixFullPath, PosixSetHandleCount,
    PosixLastError, PosixReplace,  PosixRenameOpen,
};

}  // namespace

DiskOsTable g_diskOs = kPosixTable;

void DiskOsRestore() { g_diskOs = kPosixTable; }

const u32 kOsFindDataSize = sizeof(PosixFindData);

u32 OsFindAttributes(const void* findData) {
  return static_cast<const PosixFindData*>(findData)->attributes;
}

char* OsFindName(void* findData) { return static_cast<PosixFindData*>(findData)->name; }
