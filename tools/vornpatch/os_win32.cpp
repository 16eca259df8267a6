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

bool StderrIsTerminal() { return _isatty(2) != 0; }

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
