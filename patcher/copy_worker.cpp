#include <cstring>

#include "core/pools.h"
#include "file/disk_file.h"
#include "file/file_service.h"
#include "patcher/patch_text_format.h"
#include "patcher/patcher_state.h"

namespace {

constexpr u32 kTransferSize = 32768;
constexpr u16 kTargetFlags = OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE;
constexpr u32 kProgressDialog = 101;
constexpr u32 kProgressText = 1000;

// The part of a pack path below "DATA\Files" ("" for the root itself); null when the path does
// not lie below it.
const char* RelativeMemberPath(const char* packPath) {
  const size_t rootLength = sizeof kPayloadRoot - 1;
  if (std::strncmp(packPath, kPayloadRoot, rootLength) != 0) return nullptr;
  if (packPath[rootLength] == '\0') return packPath + rootLength;
  if (packPath[rootLength] != '\\') return nullptr;
  return packPath + rootLength + 1;
}

// InstallPath followed by a relative path, into kPathSize bytes; false when it does not fit or
// the relative path would leave the game folder.
bool TargetPath(const char* relative, char* target) {
  if (!relative || (relative[0] != '\0' && !IsSafeMemberPath(relative))) return false;
  const size_t base = std::strlen(InstallPath);
  const size_t more = std::strlen(relative);
  if (base + more >= kPathSize) return false;
  std::memcpy(target, InstallPath, base);
  std::memcpy(target + base, relative, more + 1);
  return true;
}

bool Transfer(CFile* source, CFile* target, void* buffer) {
  u32 left = source->GetSize();
  while (left > 0) {
    const u32 chunk = left < kTransferSize ? left : kTransferSize;
    u32 done = 0;
    if (source->Read(buffer, chunk, &done) || done != chunk) return false;
    if (target->Write(buffer, chunk, &done) || done != chunk) return false;
    left -= chunk;
  }
  return true;
}

// Replaces the target with the finished temporary. A read-only target is made writable first,
// since the system refuses to replace it, and made read-only again when the replacement fails.
bool PutInPlace(const char* temporary, const char* target) {
  const u32 attributes = g_platform.GetFileAttributes(target);
  const bool readOnly = attributes != kInvalidAttributes && (attributes & ATTR_READONLY);
  if (readOnly) g_platform.SetFileAttributes(target, ATTR_NORMAL);
  if (!FileServiceTable.Replace(temporary, target)) return true;
  if (readOnly) g_platform.SetFileAttributes(target, attributes);
  return false;
}

}  // namespace

bool IsSafeMemberPath(const char* relative) {
  if (!relative || relative[0] == '\0' || relative[0] == '\\' || relative[0] == '/') return false;
  if (std::strchr(relative, ':')) return false;
  const char* component = relative;
  for (const char* p = relative;; ++p) {
    if (*p == '\\' || *p == '/' || *p == '\0') {
      const size_t length = static_cast<size_t>(p - component);
      if (length == 0) return false;
      if (component[0] == '.' && (length == 1 || (length == 2 && component[1] == '.'))) {
        return false;
      }
      if (*p == '\0') return true;
      component = p + 1;
    }
  }
}

u32 CopyPackFile(const char* sourcePath) {
  char target[kPathSize];
  char temporary[kPathSize];
  if (!TargetPath(RelativeMemberPath(sourcePath), target)) return 0;
  const size_t length = std::strlen(target);
  if (length + sizeof kReplacementSuffix > kPathSize) return 0;
  std::memcpy(temporary, target, length);
  std::memcpy(temporary + length, kReplacementSuffix, sizeof kReplacementSuffix);

  void* buffer = g_ptrPool->Alloc(kTransferSize);
  if (!buffer) return 0;
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(sourcePath, OPEN_READ, &error);
  // The new file goes to its temporary (a stale one left by a stopped run is emptied here), and
  // takes the target's place only once all its bytes are on the disk: a failure or a crash at
  // any point leaves the target as it was.
  CFile* written = source ? FileServiceTable.Open(temporary, kTargetFlags, &error) : nullptr;
  const bool made = written != nullptr;
  bool copied = made && Transfer(source, written, buffer) && !written->Flush();
  delete written;
  delete source;
  g_ptrPool->Free(buffer);
  if (copied) copied = PutInPlace(temporary, target);
  if (made && !copied) FileServiceTable.Delete(temporary);
  return copied ? 1 : 0;
}

void MakeTargetFolder(const char* directory) {
  const char* relative = RelativeMemberPath(directory);
  if (!relative || relative[0] == '\0') return;  // the root is the game folder itself
  char parent[kPathSize];
  if (!TargetPath(relative, parent)) return;
  char* separator = std::strrchr(parent, '\\');  // InstallPath ends in one
  char name[kPathSize];
  std::strcpy(name, separator + 1);
  // CreateDir takes the parent folder and a single name; the result is not needed: a folder
  // that could not be made shows up as failed copies of its files.
  const bool parentIsGameFolder =
      static_cast<size_t>(separator - parent) + 1 == std::strlen(InstallPath);
  separator[parentIsGameFolder ? 1 : 0] = '\0';
  FileServiceTable.CreateDir(parent, name);
}

void CopyPackTree(const char* directory) {
  char base[kPathSize];
  std::strncpy(base, directory, sizeof base - 1);
  base[sizeof base - 1] = '\0';
  MakeTargetFolder(base);
  const size_t length = std::strlen(base);
  if (length == 0 || base[length - 1] != '\\') {
    if (length + 1 >= kPathSize) return;
    base[length] = '\\';
    base[length + 1] = '\0';
  }

  FindRecord record;
  std::memset(&record, 0, sizeof record);
  if (FileServiceTable.FindFirst(&record, base)) {
    FileServiceTable.FindClose(&record);
    return;
  }
  do {
    char path[kPathSize];
    const size_t baseLength = std::strlen(base);
    const size_t nameLength = std::strlen(record.name);
    const bool fits = baseLength + nameLength < kPathSize;
    if (fits) {
      std::memcpy(path, base, baseLength);
      std::memcpy(path + baseLength, record.name, nameLength + 1);
    }
    if (fits && (record.attributes & ATTR_DIRECTORY)) {
      CopyPackTree(path);
      continue;
    }
    if (!fits) {
      // Too long to name: reported like any failed copy, by the part of the name that fits.
      std::memcpy(path, base, baseLength + 1);
      std::strncat(path, record.name, kPathSize - 1 - baseLength);
    }
    while (!fits || !CopyPackFile(path)) {
      char message[kPathSize];
      const char* relative = RelativeMemberPath(path);
      const FormatArgument argument = {relative ? relative : path, 0};
      FormatPatchText(message, sizeof message, GetPatchText("errcopy"), &argument, 1);
      const int answer = g_platform.MessageBox(0, message, "Error", MB_TYPE_ABORT_RETRY_IGNORE);
      if (answer == ANSWER_ABORT) {
        FileServiceTable.FindClose(&record);
        FailWithMessage("errnotcomplete", 0);
      }
      if (answer == ANSWER_RETRY) continue;
      if (answer == ANSWER_IGNORE) CopyIncomplete = 1;
      break;
    }
  } while (!FileServiceTable.FindNext(&record));
  FileServiceTable.FindClose(&record);
}

u32 CopyThreadProc(void*) {
  CopyPackTree(kPayloadRoot);
  g_platform.EndDialog(ProgressWindow, 1);
  return 0;
}

uintptr_t ProgressDialogProc(PlatformWindow window, u32 message, uintptr_t, uintptr_t) {
  if (message != kDialogInit) return 0;
  g_platform.SetWindowText(window, GetPatchText("title"));
  g_platform.SetDlgItemText(window, kProgressText, GetPatchText("copy"));
  ProgressWindow = window;
  g_platform.CreateThread(CopyThreadProc, nullptr);
  return 0;
}

u32 RunCopyWithProgress() {
  g_platform.DialogBox(Instance, kProgressDialog, ProgressDialogProc);
  return 1;
}
