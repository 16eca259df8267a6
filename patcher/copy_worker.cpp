#include <cstring>
#include <initializer_list>

#include "core/pools.h"
#include "file/disk_file.h"
#include "file/file_service.h"
#include "patcher/new_file.h"
#include "patcher/patch_text_format.h"

namespace {

constexpr u32 kTransferSize = 32768;
// A temporary is always made new: Wine empties a file that CREATE_ALWAYS opens by truncating it,
// and ext4 writes a file truncated to nothing out to the disk as it closes (to keep a replace by
// truncation safe), a disk write per file that the copy does not need. It is renamed while open:
// a rename by name opens the file again, three more requests of Wine's server per file.
constexpr u16 kTemporaryFlags = OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_RENAMABLE;
constexpr u32 kProgressDialog = 101;
constexpr u32 kProgressText = 1000;
// The one temporary, a folder down in the staging folder: one file is written at a time.
constexpr char kTemporaryName[] = "\\0\\0";

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

// Whether the component of `length` characters ending at `end` ends in kReplacementSuffix (any
// case), as the staging folder does: the tool refuses such names, and no member may land among
// the temporaries.
bool EndsInReplacementSuffix(const char* end, size_t length) {
  const size_t suffix = sizeof kReplacementSuffix - 1;
  if (length < suffix) return false;
  const char* start = end - suffix;
  for (size_t i = 0; i < suffix; ++i) {
    const char c = start[i];
    if ((c >= 'A' && c <= 'Z' ? c + 32 : c) != kReplacementSuffix[i]) return false;
  }
  return true;
}

}  // namespace

const char* RelativeMemberPath(const char* packPath) {
  for (const char* root : {kPayloadRoot, kCodedRoot}) {
    const size_t rootLength = std::strlen(root);
    if (std::strncmp(packPath, root, rootLength) != 0) continue;
    if (packPath[rootLength] == '\0') return packPath + rootLength;
    if (packPath[rootLength] == '\\') return packPath + rootLength + 1;
  }
  return nullptr;
}

bool NameNewFile(const char* relative, NewFile* file) {
  // TargetPath holds every other name to IsSafeMemberPath; "" would name the game folder.
  if (!relative || relative[0] == '\0' || !TargetPath(relative, file->target)) return false;
  file->temporary[0] = '\0';
  return AppendText(file->temporary, kPathSize, InstallPath) &&
         AppendText(file->temporary, kPathSize, kStagingFolder) &&
         AppendText(file->temporary, kPathSize, kTemporaryName);
}

CFile* OpenTemporary(const NewFile& file) {
  ErrorCode error = nullptr;
  if (CFile* written = FileServiceTable.Open(file.temporary, kTemporaryFlags, &error)) {
    return written;
  }
  // A stale temporary of a stopped run goes; the first one of a run has the folders made.
  FileServiceTable.Delete(file.temporary);
  char staging[kPathSize];
  std::strcpy(staging, file.temporary);
  *std::strrchr(staging, '\\') = '\0';
  char* subfolder = std::strrchr(staging, '\\');
  *subfolder++ = '\0';
  FileServiceTable.CreateDir(InstallPath, kStagingFolder);
  FileServiceTable.CreateDir(staging, subfolder);
  return FileServiceTable.Open(file.temporary, kTemporaryFlags, &error);
}

namespace {

// A rename that refuses an existing target puts a new file in place with one lookup of its name
// (under Wine each lookup of a missing name reads the whole folder). Anything else takes the
// careful way: a read-only target is made writable first, since the system refuses to replace
// it, and made read-only again when the replacement fails. Closes the temporary.
bool PutInPlace(const NewFile& file, CFile* written) {
  const ErrorCode refused = FileServiceTable.RenameOpen(written, file.temporary, file.target);
  const bool flushed = !refused || !written->Flush();
  delete written;
  if (!refused) return true;
  if (!flushed) return false;
  const u32 attributes = g_platform.GetFileAttributes(file.target);
  const bool readOnly = attributes != kInvalidAttributes && (attributes & ATTR_READONLY);
  if (readOnly) g_platform.SetFileAttributes(file.target, ATTR_NORMAL);
  if (!FileServiceTable.Replace(file.temporary, file.target)) return true;
  if (readOnly) g_platform.SetFileAttributes(file.target, attributes);
  return false;
}

}  // namespace

bool FinishNewFile(const NewFile& file, CFile* written, bool complete) {
  if (!written) return false;
  if (complete && PutInPlace(file, written)) return true;
  if (!complete) delete written;  // PutInPlace closed it
  FileServiceTable.Delete(file.temporary);
  return false;
}

int AskCopyQuestion(const char* name) {
  char message[kPathSize];
  const FormatArgument argument = {name, 0};
  FormatPatchText(message, sizeof message, GetPatchText("errcopy"), &argument, 1);
  const int answer = g_platform.MessageBox(0, message, "Error", MB_TYPE_ABORT_RETRY_IGNORE);
  if (answer == ANSWER_IGNORE) CopyIncomplete = 1;
  return answer;
}

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
      if (EndsInReplacementSuffix(p, length)) return false;
      if (*p == '\0') return true;
      component = p + 1;
    }
  }
}

u32 CopyPackFile(const char* sourcePath) {
  NewFile file;
  if (!NameNewFile(RelativeMemberPath(sourcePath), &file)) return 0;
  void* buffer = g_ptrPool->Alloc(kTransferSize);
  if (!buffer) return 0;
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(sourcePath, OPEN_READ, &error);
  CFile* written = source ? OpenTemporary(file) : nullptr;
  const bool copied = written && Transfer(source, written, buffer);
  delete source;
  g_ptrPool->Free(buffer);
  return FinishNewFile(file, written, copied) ? 1 : 0;
}

void MakeFolder(const char* relative) {
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

namespace {

// Removes the folder `name` of `parent` (which ends in a backslash) after what it holds, its
// folders `levels` deep: the staging folder holds numbered subfolders of temporaries only.
void RemoveFolder(const char* parent, const char* name, u32 levels) {
  char folder[kPathSize] = "";
  if (!AppendText(folder, kPathSize, parent) || !AppendText(folder, kPathSize, name) ||
      !AppendText(folder, kPathSize, "\\")) {
    return;
  }
  char pattern[kPathSize];
  std::strcpy(pattern, folder);
  PlatformFindEntry entry;
  PlatformFind find =
      AppendText(pattern, kPathSize, "*.*") ? g_platform.FindFirst(pattern, &entry) : 0;
  while (find) {
    char path[kPathSize];
    std::strcpy(path, folder);
    if (entry.name[0] != '.' && AppendText(path, kPathSize, entry.name)) {
      if (!entry.isDirectory) FileServiceTable.Delete(path);
      if (entry.isDirectory && levels) RemoveFolder(folder, entry.name, levels - 1);
    }
    if (!g_platform.FindNext(find, &entry)) break;
  }
  if (find) g_platform.FindClose(find);
  FileServiceTable.RemoveDir(parent, name);
}

}  // namespace

void RemoveStagingFolder() { RemoveFolder(InstallPath, kStagingFolder, 1); }

void AbortCopy() {
  RemoveStagingFolder();
  FailWithMessage("errnotcomplete", 0);
}

void MakeTargetFolder(const char* directory) { MakeFolder(RelativeMemberPath(directory)); }

void CopyPackTree(const char* directory, u32 (*apply)(const char* member)) {
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
      CopyPackTree(path, apply);
      continue;
    }
    if (!fits) {
      // Too long to name: reported like any failed copy, by the part of the name that fits.
      std::memcpy(path, base, baseLength + 1);
      std::strncat(path, record.name, kPathSize - 1 - baseLength);
    }
    while (!fits || !apply(path)) {
      const char* relative = RelativeMemberPath(path);
      const int answer = AskCopyQuestion(relative ? relative : path);
      if (answer == ANSWER_ABORT) {
        FileServiceTable.FindClose(&record);
        AbortCopy();
      }
      if (answer != ANSWER_RETRY) break;
    }
  } while (!FileServiceTable.FindNext(&record));
  FileServiceTable.FindClose(&record);
}

void CopyPayload() {
  CopyPackTree(kPayloadRoot, CopyPackFile);
  CopyPackTree(kCodedRoot, ApplyCodedFile);
  CopyPackTree(kSolidRoot, ApplySolidGroup);
  RemoveStagingFolder();
}

u32 CopyThreadProc(void*) {
  CopyPayload();
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
