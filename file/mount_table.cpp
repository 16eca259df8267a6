#include <cstring>

#include "core/pools.h"
#include "file/file_service.h"

namespace {

struct MountEntry {
  const char* prefix;
  CFileService* service;
};

MountEntry* entries = nullptr;
u16 capacity = 0;
u16 count = 0;

int FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

int ComparePrefixes(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = FoldAscii(static_cast<unsigned char>(*a));
    int cb = FoldAscii(static_cast<unsigned char>(*b));
    if (ca != cb || ca == 0) return ca - cb;
  }
}

bool StartsWithFolded(const char* path, const char* prefix, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (FoldAscii(static_cast<unsigned char>(path[i])) !=
        FoldAscii(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// Returns the index of the longest matching prefix (earliest on ties) and its length.
int ResolveIndex(const char* path, size_t* matched) {
  int best = -1;
  size_t bestLength = 0;
  for (u16 i = 0; i < count; ++i) {
    size_t length = std::strlen(entries[i].prefix);
    if (best >= 0 && length <= bestLength) continue;
    // A path shorter than the prefix ends before it, and its NUL differs from the prefix there.
    if (length != 0 && !StartsWithFolded(path, entries[i].prefix, length)) continue;
    best = i;
    bestLength = length;
  }
  *matched = bestLength;
  return best;
}

}  // namespace

ErrorCode InitMountTable(u32 newCapacity) {
  // The table owns what is mounted; starting a new table ends the old one properly.
  ShutdownMountTable();
  if (newCapacity > 0xFFFF) return ERR_OUTOFRANGE;
  if (newCapacity == 0) return nullptr;
  MountEntry* fresh = static_cast<MountEntry*>(g_ptrPool->Alloc(newCapacity * sizeof(MountEntry)));
  if (!fresh) return ERR_NOTENOUGHMEMORY;
  std::memset(fresh, 0, newCapacity * sizeof(MountEntry));
  entries = fresh;
  capacity = static_cast<u16>(newCapacity);
  return nullptr;
}

ErrorCode MountService(const char* prefix, CFileService* service) {
  if (!prefix || !service) return ERR_BADPARAMS;
  if (count >= capacity) return ERR_OUTOFRANGE;
  u16 at = 0;
  while (at < count && ComparePrefixes(entries[at].prefix, prefix) <= 0) ++at;
  std::memmove(entries + at + 1, entries + at, (count - at) * sizeof(MountEntry));
  entries[at] = MountEntry{prefix, service};
  ++count;
  return nullptr;
}

CFileService* ResolvePath(const char** path) {
  if (!path || !*path) return nullptr;  // no path is claimed by no service
  size_t matched;
  int index = ResolveIndex(*path, &matched);
  if (index < 0) return nullptr;
  *path += matched;
  return entries[index].service;
}

CFileService* UnmountService(const char* prefix) {
  if (!prefix) return nullptr;
  size_t matched;
  int index = ResolveIndex(prefix, &matched);
  if (index < 0 || prefix[matched] != '\0') return nullptr;
  CFileService* service = entries[index].service;
  std::memmove(entries + index, entries + index + 1, (count - index - 1) * sizeof(MountEntry));
  --count;
  return service;
}

ErrorCode ShutdownMountTable() {
  // Detach first: a service's destructor then finds an empty table, not itself half deleted.
  MountEntry* old = entries;
  u16 oldCount = count;
  entries = nullptr;
  count = 0;
  capacity = 0;
  for (u16 i = 0; i < oldCount; ++i) {
    // A service mounted under two prefixes is still one object, deleted once.
    bool seen = false;
    for (u16 j = 0; j < i && !seen; ++j) seen = old[j].service == old[i].service;
    if (!seen) delete old[i].service;
  }
  if (old) g_ptrPool->Free(old);
  return nullptr;
}

namespace {

CFile* GlobalOpen(const char* path, u16 flags, ErrorCode* error) {
  CFileService* service = ResolvePath(&path);
  return service ? service->Open(path, flags, error) : nullptr;
}

ErrorCode GlobalDelete(const char* path) {
  CFileService* service = ResolvePath(&path);
  return service ? service->Delete(path) : ERR_FILE;
}

// The one service that both paths reach, or null.
CFileService* ResolveBoth(const char** oldPath, const char** newPath) {
  CFileService* from = ResolvePath(oldPath);
  return from && from == ResolvePath(newPath) ? from : nullptr;
}

ErrorCode GlobalRename(const char* oldPath, const char* newPath) {
  CFileService* service = ResolveBoth(&oldPath, &newPath);
  return service ? service->Rename(oldPath, newPath) : ERR_NOTIMPLEMENTED;
}

ErrorCode GlobalReplace(const char* oldPath, const char* newPath) {
  CFileService* service = ResolveBoth(&oldPath, &newPath);
  return service ? service->Replace(oldPath, newPath) : ERR_NOTIMPLEMENTED;
}

ErrorCode GlobalRenameOpen(CFile* open, const char* oldPath, const char* newPath) {
  CFileService* service = ResolveBoth(&oldPath, &newPath);
  return service ? service->RenameOpen(open, oldPath, newPath) : ERR_NOTIMPLEMENTED;
}

ErrorCode GlobalFindFirst(FindRecord* record, const char* directory) {
  record->service = nullptr;
  CFileService* service = ResolvePath(&directory);
  return service ? service->FindFirst(record, directory) : ERR_FILE;
}

ErrorCode GlobalFindNext(FindRecord* record) {
  return record->service ? record->service->FindNext(record) : ERR_FILE;
}

ErrorCode GlobalFindClose(FindRecord* record) {
  return record->service ? record->service->FindClose(record) : ERR_FILE;
}

ErrorCode GlobalCreateDir(const char* parent, const char* name) {
  CFileService* service = ResolvePath(&parent);
  return service ? service->CreateDir(parent, name) : ERR_FILE;
}

ErrorCode GlobalRemoveDir(const char* parent, const char* name) {
  CFileService* service = ResolvePath(&parent);
  return service ? service->RemoveDir(parent, name) : ERR_FILE;
}

u32 GlobalExists(const char* path) {
  CFileService* service = ResolvePath(&path);
  return service ? service->Exists(path) : 0;
}

ErrorCode GlobalQueryInfo(const char* path, u32 id, void* buffer) {
  CFileService* service = ResolvePath(&path);
  return service ? service->QueryInfo(path, id, buffer) : ERR_FILE;
}

ErrorCode GlobalReserved13(const char* path, u32 a, u32 b) {
  CFileService* service = ResolvePath(&path);
  return service ? service->Reserved13(path, a, b) : ERR_FILE;
}

}  // namespace

const FileServiceTableType FileServiceTable = {
    GlobalOpen,       GlobalDelete,    GlobalRename,     GlobalFindFirst, GlobalFindNext,
    GlobalFindClose,  GlobalCreateDir, GlobalRemoveDir,  GlobalExists,    GlobalQueryInfo,
    GlobalReserved13, GlobalReplace,   GlobalRenameOpen,
};
