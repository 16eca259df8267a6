#include <errno.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "file/disk_file.h"
#include "os.h"

namespace {

bool HandleOf(CFile* file, OsHandle* handle) {
  return file && !file->GetProperty(PROP_OSHANDLE, handle, 0);
}

// The disk layer reads '\' as '/' on POSIX; paths handed to the system directly follow suit.
std::string NativePath(const char* path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

}  // namespace

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

u64 MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<u64>(now.tv_sec) * 1000u + static_cast<u64>(now.tv_nsec) / 1000000u;
}

bool FileSize64(CFile* diskFile, u64* size) {
  OsHandle handle = 0;
  struct stat info {};
  if (!HandleOf(diskFile, &handle) || fstat(static_cast<int>(handle), &info) != 0) return false;
  *size = static_cast<u64>(info.st_size);
  return true;
}

bool IdentifyFile(CFile* diskFile, FileIdentity* identity) {
  OsHandle handle = 0;
  struct stat info {};
  if (!HandleOf(diskFile, &handle) || fstat(static_cast<int>(handle), &info) != 0) return false;
  identity->volume = static_cast<u64>(info.st_dev);
  identity->index = static_cast<u64>(info.st_ino);
  return true;
}

PathKind InspectPath(const std::string& path, bool follow, FileIdentity* identity) {
  struct stat info {};
  const std::string native = NativePath(path.c_str());
  if ((follow ? stat(native.c_str(), &info) : lstat(native.c_str(), &info)) != 0) {
    return errno == ELOOP ? PathKind::kLinkLoop : PathKind::kMissing;
  }
  if (identity) {
    identity->volume = static_cast<u64>(info.st_dev);
    identity->index = static_cast<u64>(info.st_ino);
  }
  if (S_ISREG(info.st_mode)) return PathKind::kFile;
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  if (S_ISLNK(info.st_mode)) return PathKind::kLink;
  if (S_ISFIFO(info.st_mode)) return PathKind::kPipe;
  if (S_ISSOCK(info.st_mode)) return PathKind::kSocket;
  return PathKind::kDevice;
}

std::string ExecutableDirectory() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return std::string();
  std::string self(path, static_cast<size_t>(length));
  return self.substr(0, self.find_last_of('/') + 1);
}

ErrorCode ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return ERR_ACCESSDENIED;
    case ENOENT:
    case ENOTDIR:
      return ERR_PATHNOTFOUND;
    case EEXIST:
    case EISDIR:
    case ENOTEMPTY:
      return ERR_ALREADYEXISTS;
    case ENOSPC:
    case EDQUOT:
      return ERR_DISKFULL;
    case EROFS:
      return ERR_WRITEPROTECTED;
    case EMFILE:
    case ENFILE:
      return ERR_TOOMANYOPENFILES;
    case EIO:
      return ERR_WRITEFAIL;
    default:
      return ERR_FILE;
  }
}

ErrorCode ReplaceFileWith(const char* from, const char* to) {
  if (rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0) return nullptr;
  return ErrorFromErrno(errno);
}
