#include <cstring>
#include <new>

#include "archive/file_window.h"
#include "archive/lzss_file.h"
#include "archive/pack_fs.h"
#include "archive/payload_bounds.h"
#include "file/file_service.h"
#include "patcher/patcher_state.h"

namespace {

// The own path: the first quoted token of the command line, as the shell starts a program;
// without one (or when it does not fit), the module's own file name.
bool OwnPath(char* path) {
  const char* line = g_platform.CommandLine();
  if (line) {
    while (*line == ' ' || *line == '\t') ++line;
    if (*line == '"') {
      const char* end = std::strchr(line + 1, '"');
      const size_t length = end ? static_cast<size_t>(end - line - 1) : 0;
      if (end && length > 0 && length < kPathSize) {
        std::memcpy(path, line + 1, length);
        path[length] = '\0';
        return true;
      }
    }
  }
  const u32 length = g_platform.ModuleFileName(path, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  path[length] = '\0';
  return true;
}

[[noreturn]] void PatchFileIsBroken() {
  g_platform.MessageBox(0, "Patch file is broken!", "VORN Patch", MB_TYPE_OK);
  g_platform.ExitProcess(-1);
  __builtin_trap();
}

}  // namespace

u32 OpenPayload() {
  char path[kPathSize];
  if (!OwnPath(path)) return 0;
  ErrorCode error = nullptr;
  // Lives until the file layer is shut down: the window over it does not own it.
  CFile* own = FileServiceTable.Open(path, OPEN_READ | OPEN_SHARE_READ | OPEN_SHARE_WRITE, &error);
  if (!own) return 0;
  // A sealed payload is checked whole here, before anything is asked or changed.
  PayloadBounds bounds;
  u32 crc = 0;
  if (LocatePayload(own, &bounds) ||
      (bounds.sealed && (PayloadCrc(own, bounds.offset, bounds.end - bounds.offset, &crc) ||
                         crc != bounds.sealCrc))) {
    delete own;
    PatchFileIsBroken();
  }
  OwnFile = own;
  CFileWindow* window =
      new (std::nothrow) CFileWindow(own, bounds.offset, bounds.end - bounds.offset, 0);
  if (!window) return 1;
  CLzssFile* stream = new (std::nothrow) CLzssFile(window, 1);
  if (!stream) {
    delete window;
    return 1;
  }
  MountPack(stream, "DATA");  // on failure nothing is mounted, and the disk answers "DATA\\"
  return 1;
}
