#include "archive/pack_fs.h"

#include <cstring>
#include <new>

#include "archive/pack_format.h"
#include "core/pools.h"

namespace {

u32 ReadLittle32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Upper-cased copy of at most 255 bytes into a buffer of 256; returns the copy's length.
u32 PreparePathCut(const char* path, char* out) {
  u32 length = 0;
  if (path) {
    while (length < kPackMaxNameLength && path[length] != '\0') {
      out[length] = UpperAscii(path[length]);
      ++length;
    }
  }
  out[length] = '\0';
  return length;
}

// Upper-cased copy for exact lookups. No member name is longer than 255 bytes, so a longer path
// cannot name one (cutting it could name a different member): false.
bool PreparePathExact(const char* path, char* out) {
  if (!path) return false;
  u32 length = PreparePathCut(path, out);
  return path[length] == '\0';
}

}  // namespace

CPackFS::~CPackFS() {
  delete index_;
  delete packFile_;
  if (mountName_) g_ptrPool->Free(mountName_);
}

ErrorCode CPackFS::Mount(CFile* file) {
  delete packFile_;
  delete index_;
  index_ = nullptr;
  packFile_ = file;
  if (!file) return ERR_BADPARAMS;

  u8 header[kPackHeaderSize];
  ErrorCode error = file->ReadAt(header, 0, kPackHeaderSize, nullptr);
  if (error) return error;
  if (std::memcmp(header, kPackMagic, kPackMagicSize) != 0) return ERR_UNKNOWN;
  u32 count = ReadLittle32(header + kPackCountOffset);
  u32 directorySize = ReadLittle32(header + kPackDirectorySizeOffset);
  // The read below would fail anyway; checking first avoids allocating what a corrupt header asks.
  if (kPackHeaderSize + static_cast<u64>(directorySize) > file->GetSize()) return ERR_EOF;

  MemHandle block = 0;
  if (directorySize > 0) {
    block = MemAlloc(directorySize);
    if (!block) return ERR_ALLOCFAIL;
    void* bytes = MemLock(block);
    if (!bytes) {
      MemFree(block);
      return ERR_LOCKFAIL;
    }
    error = file->ReadAt(bytes, kPackHeaderSize, directorySize, nullptr);
    MemUnlock(block);
    if (error) {
      MemFree(block);
      return error;
    }
  }
  index_ = new (std::nothrow) CNameIndex(kPackRecordSize, kPackFieldWidth, block, directorySize,
                                         count, 0, 0, kPackCheckpointStep);
  if (!index_) {
    if (block) MemFree(block);
    return ERR_ALLOCFAIL;
  }
  directorySize_ = directorySize;
  error = index_->Status();
  if (error) {
    delete index_;
    index_ = nullptr;
  }
  return error;
}

namespace {

// No lower-case letter (no lookup could reach the member) and no empty component.
bool IsWholeName(const char* name) {
  char previous = '\\';
  for (; *name; ++name) {
    if ((*name >= 'a' && *name <= 'z') || (*name == '\\' && previous == '\\')) return false;
    previous = *name;
  }
  return previous != '\\';
}

}  // namespace

ErrorCode CPackFS::CheckWhole() {
  // The index ends before the first entry it cannot use (out of order, cut off, ...).
  if (!index_ || index_->UsableCount() != index_->Count() || index_->UsableSize() != directorySize_)
    return ERR_INVALIDFORMAT;
  char name[kPackMaxNameLength + 1];
  u8 record[kPackRecordSize];
  for (u32 more = index_->NextName(nullptr, name); more; more = index_->NextName(name, name)) {
    if (!IsWholeName(name) || !index_->FindRecord(name, record) ||
        static_cast<u64>(ReadLittle32(record)) + ReadLittle32(record + 4) > packFile_->GetSize())
      return ERR_INVALIDFORMAT;
  }
  return nullptr;
}

CFile* CPackFS::Open(const char* path, u16 flags, ErrorCode* error) {
  if (flags & OPEN_WRITE) {
    if (error) *error = ERR_PACK_WRITEACCESS;
    return nullptr;
  }
  char name[kPackMaxNameLength + 1];
  u8 record[kPackRecordSize];
  if (!index_ || !PreparePathExact(path, name) || !index_->FindRecord(name, record)) {
    if (error) *error = ERR_FILENOTFOUND;
    return nullptr;
  }
  const u32 offset = ReadLittle32(record);
  const u32 size = ReadLittle32(record + 4);
  // Such a member cannot be read whole; refused before a reader copies the part that is there.
  if (static_cast<u64>(offset) + size > packFile_->GetSize()) {
    if (error) *error = ERR_INVALIDFORMAT;
    return nullptr;
  }
  CPackFSFile* member = new (std::nothrow) CPackFSFile(packFile_, offset, size);
  // A null result must not come with a success code.
  if (error) *error = member ? nullptr : ERR_ALLOCFAIL;
  return member;
}

u32 CPackFS::Exists(const char* path) {
  if (!index_) return 0;
  char prepared[kPackMaxNameLength + 1];
  char found[kPackMaxNameLength + 1];
  PreparePathCut(path, prepared);
  if (!index_->FindPrefix(prepared, found, nullptr)) return 0;
  size_t length = std::strlen(found);
  return (length > 0 && found[length - 1] == '\\') ? 0 : 1;
}

ErrorCode CPackFS::FindFirst(FindRecord* record, const char* directory) {
  char prepared[kPackMaxNameLength + 2];
  u32 p = PreparePathCut(directory, prepared);
  if (p > 0 && prepared[p - 1] != '\\') {
    prepared[p++] = '\\';
    prepared[p] = '\0';
  }
  record->service = this;
  record->cursor = p;
  record->name = nullptr;
  record->attributes = 0;
  char* area = static_cast<char*>(g_ptrPool->Alloc(kPackFindAreaSize));
  record->data = area;
  if (!area) return ERR_ALLOCFAIL;
  area[0] = '\0';  // FindNext after a failed FindFirst then finds nothing
  area[kPackFindSubdirOffset] = '\0';
  // A prefix of 256 bytes cannot begin any name.
  if (!index_ || p > kPackMaxNameLength || !index_->FindPrefix(prepared, area, nullptr) ||
      !SkipEmptyComponents(record))
    return ERR_NOTFOUND;
  return ReportEntry(record);
}

ErrorCode CPackFS::FindNext(FindRecord* record) {
  char* area = static_cast<char*>(record->data);
  if (!area) return ERR_ALLOCFAIL;
  if (!index_ || !StepWithinDirectory(record) || !SkipEmptyComponents(record)) return ERR_NOTFOUND;
  return ReportEntry(record);
}

bool CPackFS::StepWithinDirectory(FindRecord* record) {
  char* area = static_cast<char*>(record->data);
  char next[kPackMaxNameLength + 1];
  if (!index_->NextName(area, next) || std::strncmp(next, area, record->cursor) != 0) return false;
  std::strcpy(area, next);
  return true;
}

// A name whose part below the listed directory is empty or begins with a backslash (A\\B, \X,
// A\ with nothing after it) names no file or folder. Reported, it would be a directory named ""
// whose listing is this directory again, and a walk would never end; such entries are passed
// over.
bool CPackFS::SkipEmptyComponents(FindRecord* record) {
  const char* below = static_cast<char*>(record->data) + record->cursor;
  while (*below == '\\' || *below == '\0') {
    if (!StepWithinDirectory(record)) return false;
  }
  return true;
}

ErrorCode CPackFS::ReportEntry(FindRecord* record) {
  char* area = static_cast<char*>(record->data);
  u32 p = static_cast<u32>(record->cursor);
  char* separator = std::strchr(area + p, '\\');
  if (!separator) {
    record->attributes = ATTR_READONLY;
    record->name = area + p;
    return nullptr;
  }
  // A subdirectory: report it once and leave the work area on its last member, so the next
  // step continues after the whole subtree.
  u32 k = static_cast<u32>(separator - area) + 1;
  char next[kPackMaxNameLength + 1];
  while (index_->NextName(area, next) && std::strncmp(next, area, k) == 0) std::strcpy(area, next);
  char* subdirectory = area + kPackFindSubdirOffset;
  u32 length = k - 1 - p;
  std::memcpy(subdirectory, area + p, length);
  subdirectory[length] = '\0';
  record->attributes = ATTR_DIRECTORY | ATTR_READONLY;
  record->name = subdirectory;
  return nullptr;
}

ErrorCode CPackFS::FindClose(FindRecord* record) {
  if (record->data) g_ptrPool->Free(record->data);
  record->data = nullptr;
  record->name = nullptr;
  return nullptr;
}

u32 CPackFS::GetFileOffset(const char* path, ErrorCode* error) {
  char name[kPackMaxNameLength + 1];
  u8 record[kPackRecordSize];
  if (!index_ || !PreparePathExact(path, name) || !index_->FindRecord(name, record)) {
    if (error) *error = ERR_FILENOTFOUND;
    return 0;
  }
  if (error) *error = nullptr;
  return ReadLittle32(record);
}

CPackFSFile::CPackFSFile(CFile* packFile, u32 offset, u32 size)
    : CFile(packFile, 0), offset_(offset), size_(size) {
  isOpen = 1;
}

ErrorCode CPackFSFile::Read(void* buffer, u32 size, u32* done) {
  if (done) *done = 0;
  if (position_ >= size_) return ERR_EOF;
  u32 available = size_ - position_;
  if (size > available) {
    if (!done) return ERR_EOF;
    size = available;
  }
  // A member said to lie beyond 4 GiB cannot be in any file; do not wrap around to its start.
  u64 at = static_cast<u64>(offset_) + position_;
  if (at + size > 0x100000000ull) return ERR_EOF;
  ErrorCode error = baseFile->ReadAt(buffer, static_cast<u32>(at), size, nullptr);
  if (error) return error;
  position_ += size;
  if (done) *done = size;
  return nullptr;
}

ErrorCode CPackFSFile::Write(const void*, u32, u32* done) {
  if (done) *done = 0;
  return ERR_NOTIMPLEMENTED;
}

ErrorCode CPackFSFile::Seek(i32 offset, u16 origin) {
  // From the start the offset is a position, unsigned, so members of 2 GiB and more are reached.
  if (origin != SEEK_FROM_CURRENT && origin != SEEK_FROM_END) {
    position_ = static_cast<u32>(offset);
    return nullptr;
  }
  i64 base = origin == SEEK_FROM_CURRENT ? position_ : size_;
  i64 target = base + offset;
  if (target < 0 || target > 0xFFFFFFFFll) return ERR_UNKNOWN;
  position_ = static_cast<u32>(target);
  return nullptr;
}

ErrorCode CPackFSFile::Flush() { return baseFile ? baseFile->Flush() : nullptr; }

ErrorCode CPackFSFile::Truncate() { return ERR_NOTIMPLEMENTED; }

ErrorCode MountPack(CFile* file, const char* mountName) {
  CPackFS* service = new (std::nothrow) CPackFS();
  if (!service) {
    delete file;
    return ERR_ALLOCFAIL;
  }
  if (!file || !file->isOpen || !mountName) {
    delete file;
    delete service;
    return ERR_UNKNOWN;
  }
  ErrorCode error = service->Mount(file);  // the service owns the file from here on
  if (!error) error = service->CheckWhole();
  if (error) {
    delete service;
    return error;
  }
  size_t length = std::strlen(mountName);
  bool addSeparator = length > 0 && mountName[length - 1] != '\\';
  char* prefix = static_cast<char*>(g_ptrPool->Alloc(static_cast<u32>(length + 2)));
  if (!prefix) {
    delete service;
    return ERR_ALLOCFAIL;
  }
  std::memcpy(prefix, mountName, length);
  if (addSeparator) prefix[length++] = '\\';
  prefix[length] = '\0';
  service->mountName_ = prefix;
  error = MountService(prefix, service);
  if (error) delete service;
  return error;
}
