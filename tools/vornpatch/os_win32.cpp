#include <io.h>

#include "file/disk_file.h"
#include "file/win32_api.h"
#include "os.h"

namespace {

bool HandleOf(CFile* file, HANDLE* handle) {
  OsHandle raw = 0;
  if (!file || file->GetProperty(PROP_OSHANDLE, &raw, 0)) return false;
  *handle = reinterpret_cast<HANDLE>(raw);
  return true;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

u64 MonotonicMilliseconds() {
  LARGE_INTEGER frequency, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<u64>(now.QuadPart) * 1000u / static_cast<u64>(frequency.QuadPart);
}

bool FileSize64(CFile* diskFile, u64* size) {
  HANDLE handle;
  LARGE_INTEGER value;
  if (!HandleOf(diskFile, &handle) || !GetFileSizeEx(handle, &value)) return false;
  *size = static_cast<u64>(value.QuadPart);
  return true;
}

bool IdentifyFile(CFile* diskFile, FileIdentity* identity) {
  HANDLE handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!HandleOf(diskFile, &handle) || !GetFileInformationByHandle(handle, &info)) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<u64>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

PathKind InspectPath(const std::string& path, bool follow, FileIdentity* identity) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (!follow && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return PathKind::kLink;
  if (follow) {
    // Opening resolves the links; a folder needs the backup flag to be opened at all.
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      return GetLastError() == ERROR_CANT_RESOLVE_FILENAME ? PathKind::kLinkLoop
                                                           : PathKind::kMissing;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = GetFileInformationByHandle(handle, &info) != FALSE;
    CloseHandle(handle);
    if (!known) return PathKind::kMissing;
    if (identity) {
      identity->volume = info.dwVolumeSerialNumber;
      identity->index = (static_cast<u64>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

std::string ExecutableDirectory() {
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string self(path, length);
  return self.substr(0, self.find_last_of("\\/") + 1);
}

ErrorCode ReplaceFileWith(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return nullptr;
  switch (GetLastError()) {
    case ERROR_ACCESS_DENIED:
      return ERR_ACCESSDENIED;
    case ERROR_SHARING_VIOLATION:
      return ERR_SHARING;
    case ERROR_PATH_NOT_FOUND:
      return ERR_PATHNOTFOUND;
    default:
      return ERR_FILE;
  }
}
