#include "archive/hpfs.h"

#include <cstring>
#include <new>

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// ASCII letters compare without case, and the two separators compare equal.
bool SameNames(const char* a, const char* b, u32 length) {
  for (u32 i = 0; i < length; ++i) {
    if (IsSeparator(a[i]) && IsSeparator(b[i])) continue;
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

u32 LoadWord(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

u16 LoadHalf(const u8* p) { return static_cast<u16>(p[0] | p[1] << 8); }

void StoreWord(u8* p, u32 value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<u8>(value >> (8 * i));
}

void StoreHalf(u8* p, u16 value) {
  p[0] = static_cast<u8>(value);
  p[1] = static_cast<u8>(value >> 8);
}

bool HasSeparator(const char* name) {
  for (; *name; ++name) {
    if (IsSeparator(*name)) return true;
  }
  return false;
}

constexpr u32 kMaxNameLength = 0xFFFF;

}  // namespace

CHPFSFile::CHPFSFile(CHPFS* fileSystem, CHandlePool* bytes, PoolHandle content, u16 flags)
    : CHPFile(bytes, content, flags), owner(fileSystem) {}

CHPFSFile::~CHPFSFile() {
  CHPFSFile** link = &owner->openFiles;
  while (*link && *link != this) link = &(*link)->nextOpen;
  if (*link) *link = nextOpen;
}

CHPFS::CHPFS(CHandlePool* storage) : pool(storage) {
  if (!pool) return;
  root = pool->GetRoot();
  if (root == 0) {
    u32 fresh;
    if (!NewHandle(&fresh)) {
      root = fresh;
      pool->SetRoot(root);
    }
  }
}

CHPFS::~CHPFS() {
  EmptyCache();
  delete pool;
}

ErrorCode CHPFS::NewHandle(u32* handle) {
  *handle = 0;
  PoolHandle fresh = pool->Alloc(0);
  if (!fresh) {
    ErrorCode error = pool->GetError();
    return error ? error : ERR_ALLOCFAIL;
  }
  if (fresh > 0xFFFFFFFFu) {  // a directory entry stores 32 bits
    pool->Free(fresh);
    return ERR_UNKNOWN;
  }
  *handle = static_cast<u32>(fresh);
  return nullptr;
}

bool CHPFS::IsOpen(u32 handle) const {
  for (CHPFSFile* file = openFiles; file; file = file->nextOpen) {
    if (file->Handle() == handle) return true;
  }
  return false;
}

void CHPFS::EmptyCache() {
  if (cacheHandle) pool->Unlock(cacheHandle, 0);
  cacheHandle = 0;
  cacheLength = 0;
  cachePath[0] = 0;
}

void CHPFS::SetCache(const char* prefix, u32 length, u32 directory) {
  if (cacheHandle == directory && cacheLength == length &&
      std::memcmp(cachePath, prefix, length) == 0)
    return;
  // Lock the new directory before letting go of the old one: they may be the same handle.
  bool locked = pool->Lock(directory) != nullptr;
  EmptyCache();
  if (!locked) return;
  std::memcpy(cachePath, prefix, length);
  cachePath[length] = 0;
  cacheLength = length;
  cacheHandle = directory;
}

ErrorCode CHPFS::FindInDirectory(u32 directory, const char* name, u32 length, DirEntry* entry,
                                 u32* offset) {
  u32 component = 0;
  while (component < length && !IsSeparator(name[component])) ++component;
  if (component == 0 || directory == 0) return ERR_NOTFOUND;
  u32 size = pool->Size(directory);
  const u8* bytes = static_cast<const u8*>(pool->Lock(directory));
  if (!bytes) {
    // Not NOTFOUND: a caller would take that as leave to create the name a second time.
    ErrorCode error = pool->GetError();
    return error ? error : ERR_LOCKFAIL;
  }
  ErrorCode result = ERR_NOTFOUND;
  // An entry that would run past the end of its directory ends the walk.
  for (u32 at = 0; size - at >= kHpfsEntryHeaderSize;) {
    u16 nameLength = LoadHalf(bytes + at + 6);
    if (size - at - kHpfsEntryHeaderSize < nameLength) break;
    if (nameLength == component &&
        SameNames(reinterpret_cast<const char*>(bytes + at + kHpfsEntryHeaderSize), name,
                  component)) {
      entry->handle = LoadWord(bytes + at);
      entry->flags = LoadHalf(bytes + at + 4);
      entry->nameLength = nameLength;
      *offset = at;
      result = nullptr;
      break;
    }
    at += kHpfsEntryHeaderSize + nameLength;
  }
  pool->Unlock(directory, 0);
  return result;
}

ErrorCode CHPFS::Resolve(const char* path, u32 length, u32* directory, u32* offset,
                         DirEntry* entry) {
  if (!path) return ERR_BADPARAMS;
  if (root == 0) return ERR_NOTFOUND;
  u32 start = length > 0 && IsSeparator(path[0]) ? 1 : 0;
  if (start == length) {
    *directory = 0;
    *offset = 0;
    *entry = DirEntry{root, HPFS_ENTRY_DIRECTORY | HPFS_ENTRY_ROOT, 0};
    return nullptr;
  }
  const char* relative = path + start;
  u32 remaining = length - start;
  u32 current = root;
  u32 at = 0;  // within relative
  u32 lastSeparator = 0;
  bool passed = false;
  if (cacheHandle && remaining >= 2 && cacheLength < remaining - 1 &&
      IsSeparator(relative[cacheLength]) && SameNames(relative, cachePath, cacheLength)) {
    current = cacheHandle;
    at = cacheLength + 1;
  }
  for (;;) {
    u32 end = at;
    while (end < remaining && !IsSeparator(relative[end])) ++end;
    if (end - at > kMaxNameLength) return ERR_NOTFOUND;
    DirEntry found;
    u32 where;
    ErrorCode error = FindInDirectory(current, relative + at, end - at, &found, &where);
    if (error) return error;
    if (end == remaining || end + 1 == remaining) {
      *directory = current;
      *offset = where;
      *entry = found;
      break;
    }
    if (!(found.flags & HPFS_ENTRY_DIRECTORY)) return ERR_UNKNOWN;
    lastSeparator = end;
    passed = true;
    current = found.handle;
    at = end + 1;
  }
  if (passed && lastSeparator < kHpfsCachePathSize) SetCache(relative, lastSeparator, *directory);
  return nullptr;
}

ErrorCode CHPFS::AddEntry(u32 directory, const char* name, u32 length, u32 handle, u16 flags) {
  if (directory == 0 || length == 0 || length > kMaxNameLength) return ERR_UNKNOWN;
  DirEntry existing;
  u32 where;
  if (!FindInDirectory(directory, name, length, &existing, &where)) return ERR_UNKNOWN;
  if (directory == cacheHandle) EmptyCache();
  u32 size = pool->Size(directory);
  u32 added = kHpfsEntryHeaderSize + length;
  if (size > 0xFFFFFFFFu - added) return ERR_UNKNOWN;
  u8 header[kHpfsEntryHeaderSize];
  StoreWord(header, handle);
  StoreHalf(header + 4, flags);
  StoreHalf(header + 6, static_cast<u16>(length));
  PoolHandle grown = pool->Realloc(directory, size + added);
  if (!grown) {
    ErrorCode error = pool->GetError();
    return error ? error : ERR_REALLOCFAIL;
  }
  if (grown != directory) return ERR_UNKNOWN;  // the parent entry still names the old handle
  ErrorCode error = pool->WriteHandle(directory, header, size, kHpfsEntryHeaderSize);
  if (!error) error = pool->WriteHandle(directory, name, size + kHpfsEntryHeaderSize, length);
  if (error) pool->Realloc(directory, size);
  return error;
}

ErrorCode CHPFS::CreateEntryAt(const char* path, u32 handle, u16 flags) {
  u32 length = static_cast<u32>(std::strlen(path));
  u32 cut = length;
  while (cut > 0 && !IsSeparator(path[cut - 1])) --cut;
  const char* name = path + cut;
  u32 nameLength = length - cut;
  if (cut <= 1) return AddEntry(root, name, nameLength, handle, flags);
  u32 directory, offset;
  DirEntry parent;
  ErrorCode error = Resolve(path, cut - 1, &directory, &offset, &parent);
  if (error) return error;
  if (!(parent.flags & HPFS_ENTRY_DIRECTORY)) return ERR_UNKNOWN;
  return AddEntry(parent.handle, name, nameLength, handle, flags);
}

ErrorCode CHPFS::RemoveEntry(u32 directory, u32 offset, const DirEntry& entry) {
  // The cached directory may lie below the entry that goes away; a stale prefix would still
  // resolve paths through it.
  EmptyCache();
  u32 size = pool->Size(directory);
  u32 length = kHpfsEntryHeaderSize + entry.nameLength;
  if (offset > size || size - offset < length) return ERR_INVALIDFORMAT;
  // The entries behind move down in small steps through the stack: removing needs no memory,
  // so it cannot fail for the lack of it halfway through a rename.
  u8 chunk[256];
  for (u32 at = offset; at < size - length;) {
    u32 count = size - length - at < sizeof chunk ? size - length - at : u32{sizeof chunk};
    ErrorCode error = pool->ReadHandle(directory, chunk, at + length, count);
    if (!error) error = pool->WriteHandle(directory, chunk, at, count);
    if (error) return error;
    at += count;
  }
  return pool->Realloc(directory, size - length) ? nullptr : ERR_UNKNOWN;
}

CFile* CHPFS::Open(const char* path, u16 flags, ErrorCode* errorOut) {
  ErrorCode unused;
  ErrorCode& error = errorOut ? *errorOut : unused;
  u32 directory, offset;
  DirEntry entry = {};
  error =
      Resolve(path, path ? static_cast<u32>(std::strlen(path)) : 0, &directory, &offset, &entry);
  if (!error && (entry.flags & HPFS_ENTRY_DIRECTORY)) {
    error = ERR_UNKNOWN;
    return nullptr;
  }
  u32 handle = entry.handle;
  if (error == ERR_NOTFOUND && (flags & OPEN_CREATE)) {
    error = NewHandle(&handle);
    if (error) return nullptr;
    error = CreateEntryAt(path, handle, 0);
    if (error) {
      pool->Free(handle);
      return nullptr;
    }
  }
  if (error) return nullptr;

  u16 shared = OPEN_SHARE_READ | OPEN_SHARE_WRITE;
  u16 used = 0;
  for (CHPFSFile* file = openFiles; file; file = file->nextOpen) {
    if (file->Handle() != handle) continue;
    shared &= file->openFlags;
    used |= file->openFlags;
  }
  if (((flags & OPEN_WRITE) && !(shared & OPEN_SHARE_WRITE)) ||
      ((flags & OPEN_READ) && !(shared & OPEN_SHARE_READ)) ||
      ((used & OPEN_WRITE) && !(flags & OPEN_SHARE_WRITE)) ||
      ((used & OPEN_READ) && !(flags & OPEN_SHARE_READ))) {
    error = ERR_UNKNOWN;
    return nullptr;
  }
  if (flags & (OPEN_CREATE | OPEN_TRUNCATE)) {
    if (!pool->Realloc(handle, 0)) {
      error = pool->GetError();
      if (!error) error = ERR_TRUNCFAIL;
      return nullptr;
    }
  }
  CHPFSFile* file = new (std::nothrow) CHPFSFile(this, pool, handle, flags);
  if (!file) {
    error = ERR_NOTENOUGHMEM;
    return nullptr;
  }
  file->nextOpen = openFiles;
  openFiles = file;
  error = nullptr;
  return file;
}

u32 CHPFS::Exists(const char* path) {
  u32 directory, offset;
  DirEntry entry;
  if (!path) return 0;
  return Resolve(path, static_cast<u32>(std::strlen(path)), &directory, &offset, &entry) ? 0 : 1;
}

ErrorCode CHPFS::Delete(const char* path) {
  u32 directory, offset;
  DirEntry entry;
  if (!path) return ERR_BADPARAMS;
  ErrorCode error = Resolve(path, static_cast<u32>(std::strlen(path)), &directory, &offset, &entry);
  if (error) return error;
  if (entry.flags & HPFS_ENTRY_DIRECTORY) return ERR_UNKNOWN;
  // An open file would go on writing into blocks that another handle may receive.
  if (IsOpen(entry.handle)) return ERR_SHARING;
  error = RemoveEntry(directory, offset, entry);
  if (error) return error;
  pool->Free(entry.handle);
  return nullptr;
}

ErrorCode CHPFS::Rename(const char* oldPath, const char* newPath) {
  u32 directory, offset;
  DirEntry entry;
  if (!oldPath || !newPath) return ERR_BADPARAMS;
  u32 oldLength = static_cast<u32>(std::strlen(oldPath));
  u32 newLength = static_cast<u32>(std::strlen(newPath));
  ErrorCode error = Resolve(oldPath, oldLength, &directory, &offset, &entry);
  if (error) return error;
  if (entry.flags & HPFS_ENTRY_ROOT) return ERR_UNKNOWN;
  // A directory moved below itself would leave the tree as a cycle that nothing reaches.
  const char* from = oldPath + (IsSeparator(oldPath[0]) ? 1 : 0);
  const char* to = newPath + (IsSeparator(newPath[0]) ? 1 : 0);
  u32 fromLength = static_cast<u32>(std::strlen(from));
  if ((entry.flags & HPFS_ENTRY_DIRECTORY) && std::strlen(to) > fromLength &&
      IsSeparator(to[fromLength]) && SameNames(from, to, fromLength))
    return ERR_UNKNOWN;

  // The same entry spelt in another case: the name is rewritten where it stands.
  u32 sameDirectory, sameOffset;
  DirEntry same;
  if (!Resolve(newPath, newLength, &sameDirectory, &sameOffset, &same) &&
      sameDirectory == directory && sameOffset == offset) {
    u32 end = newLength;
    if (end > 0 && IsSeparator(newPath[end - 1])) --end;
    EmptyCache();
    return pool->WriteHandle(directory, newPath + end - entry.nameLength,
                             offset + kHpfsEntryHeaderSize, entry.nameLength);
  }
  // The new entry comes first, so that a failure on the way never leaves the bytes unnamed. It
  // is appended, so the old entry's offset stays valid even in the same directory.
  if (CreateEntryAt(newPath, entry.handle, entry.flags)) return ERR_UNKNOWN;
  error = RemoveEntry(directory, offset, entry);
  if (error) {
    u32 addedDirectory, addedOffset;
    DirEntry added;
    if (!Resolve(newPath, newLength, &addedDirectory, &addedOffset, &added))
      RemoveEntry(addedDirectory, addedOffset, added);
    return error;
  }
  return nullptr;
}

ErrorCode CHPFS::CreateDir(const char* parent, const char* name) {
  u32 directory, offset;
  DirEntry entry;
  if (!parent || !name) return ERR_BADPARAMS;
  if (HasSeparator(name)) return ERR_BADPARAMS;  // one component, or it could never be found
  ErrorCode error =
      Resolve(parent, static_cast<u32>(std::strlen(parent)), &directory, &offset, &entry);
  if (error) return error;
  if (!(entry.flags & HPFS_ENTRY_DIRECTORY)) return ERR_UNKNOWN;
  u32 handle;
  error = NewHandle(&handle);
  if (error) return error;
  error = AddEntry(entry.handle, name, static_cast<u32>(std::strlen(name)), handle,
                   HPFS_ENTRY_DIRECTORY);
  if (error) pool->Free(handle);
  return error;
}

ErrorCode CHPFS::RemoveDir(const char* parent, const char* name) {
  u32 directory, offset;
  DirEntry entry;
  if (!parent || !name) return ERR_BADPARAMS;
  if (HasSeparator(name)) return ERR_BADPARAMS;
  ErrorCode error =
      Resolve(parent, static_cast<u32>(std::strlen(parent)), &directory, &offset, &entry);
  if (error) return error;
  if (!(entry.flags & HPFS_ENTRY_DIRECTORY)) return ERR_UNKNOWN;
  DirEntry target;
  u32 where;
  error = FindInDirectory(entry.handle, name, static_cast<u32>(std::strlen(name)), &target, &where);
  if (error) return error;
  // Only an empty directory goes; a file of size 0 is not a directory.
  if (!(target.flags & HPFS_ENTRY_DIRECTORY) || pool->Size(target.handle) != 0) return ERR_UNKNOWN;
  error = RemoveEntry(entry.handle, where, target);
  if (error) return error;
  pool->Free(target.handle);
  return nullptr;
}

ErrorCode CHPFS::PresentEntry(FindRecord* record, u32 offset) {
  u32 size = static_cast<u32>(record->cursor);
  u8* bytes = static_cast<u8*>(record->data);
  if (offset >= size) return ERR_NOMOREFILES;
  if (size - offset < kHpfsEntryHeaderSize) return ERR_INVALIDFORMAT;
  u16 nameLength = LoadHalf(bytes + offset + 6);
  if (size - offset - kHpfsEntryHeaderSize < nameLength) return ERR_INVALIDFORMAT;
  u16 flags = LoadHalf(bytes + offset + 4);
  record->attributes = (flags & HPFS_ENTRY_DIRECTORY) ? ATTR_DIRECTORY : 0;
  record->name = reinterpret_cast<char*>(bytes + offset + kHpfsEntryHeaderSize);
  // Over the first byte of the next entry (or the spare byte at the end), no longer needed.
  record->name[nameLength] = 0;
  return nullptr;
}

ErrorCode CHPFS::FindFirst(FindRecord* record, const char* path) {
  if (!record || !path) return ERR_BADPARAMS;
  record->service = this;
  record->cursor = 0;
  record->data = nullptr;
  record->attributes = 0;
  record->name = nullptr;
  u32 directory, offset;
  DirEntry entry;
  ErrorCode error = Resolve(path, static_cast<u32>(std::strlen(path)), &directory, &offset, &entry);
  if (error) return error;
  if (!(entry.flags & HPFS_ENTRY_DIRECTORY)) return ERR_UNKNOWN;
  u32 size = pool->Size(entry.handle);
  if (size == 0) return ERR_NOMOREFILES;
  if (size == 0xFFFFFFFFu) return ERR_INVALIDFORMAT;
  u8* copy = static_cast<u8*>(g_ptrPool->Alloc(size + 1));
  if (!copy) return ERR_NOTENOUGHMEM;
  error = pool->ReadHandle(entry.handle, copy, 0, size);
  if (!error) {
    record->data = copy;
    record->cursor = size;
    error = PresentEntry(record, 0);
  }
  if (error) {
    g_ptrPool->Free(copy);
    record->data = nullptr;
    record->cursor = 0;
  }
  return error;
}

ErrorCode CHPFS::FindNext(FindRecord* record) {
  if (!record || !record->data || !record->name) return ERR_NOMOREFILES;
  const u8* bytes = static_cast<const u8*>(record->data);
  u32 nameAt = static_cast<u32>(reinterpret_cast<u8*>(record->name) - bytes);
  u32 next = nameAt + LoadHalf(bytes + nameAt - 2);
  return PresentEntry(record, next);
}

ErrorCode CHPFS::FindClose(FindRecord* record) {
  if (!record) return ERR_BADPARAMS;
  if (record->data) g_ptrPool->Free(record->data);
  record->data = nullptr;
  record->name = nullptr;
  return nullptr;
}
