#include "file/file.h"

#include "core/pools.h"

CFile::CFile(CFile* base, u32 owns) : baseFile(base), ownsBase(owns) {}

CFile::~CFile() {
  if (ownsBase && baseFile) delete baseFile;
}

// The defaults transfer nothing, and say so: a caller that passes a count gets 0, not garbage.
ErrorCode CFile::Read(void*, u32, u32* done) {
  if (done) *done = 0;
  return nullptr;
}

ErrorCode CFile::ReadAt(void* buffer, u32 position, u32 size, u32* done) {
  ErrorCode error = Seek(static_cast<i32>(position), SEEK_FROM_START);
  if (error) {
    if (done) *done = 0;
    return error;
  }
  return Read(buffer, size, done);
}

ErrorCode CFile::Write(const void*, u32, u32* done) {
  if (done) *done = 0;
  return nullptr;
}

ErrorCode CFile::WriteAt(const void* buffer, u32 position, u32 size, u32* done) {
  ErrorCode error = Seek(static_cast<i32>(position), SEEK_FROM_START);
  if (error) {
    if (done) *done = 0;
    return error;
  }
  return Write(buffer, size, done);
}

ErrorCode CFile::Seek(i32, u16) { return nullptr; }
u32 CFile::GetSize() { return 0; }
u32 CFile::GetPosition() { return 0; }
ErrorCode CFile::Flush() { return nullptr; }
ErrorCode CFile::Truncate() { return nullptr; }

ErrorCode CFile::MoveData(u32 destination, u32 source, u32 count, u32 chunkSize, void* buffer) {
  u32 size = GetSize();
  if (source > size) return nullptr;
  if (count > size - source) count = size - source;
  if (count == 0) return nullptr;
  // A zero chunk would never make progress; a destination range past 4 GiB would wrap around
  // and overwrite the start of the file.
  if (chunkSize == 0 || count > 0xFFFFFFFFu - destination) return ERR_BADPARAMS;
  void* ownBuffer = nullptr;
  if (!buffer) {
    ownBuffer = g_ptrPool->Alloc(chunkSize);
    if (!ownBuffer) return ERR_NOTENOUGHMEM;
    buffer = ownBuffer;
  }
  ErrorCode error = nullptr;
  bool backwards = source < destination;
  u32 src = backwards ? source + count : source;
  u32 dst = backwards ? destination + count : destination;
  while (count > 0) {
    u32 length = count < chunkSize ? count : chunkSize;
    if (backwards) {
      src -= length;
      dst -= length;
    }
    error = ReadAt(buffer, src, length, nullptr);
    if (!error) error = WriteAt(buffer, dst, length, nullptr);
    if (error) break;
    if (!backwards) {
      src += length;
      dst += length;
    }
    count -= length;
  }
  if (ownBuffer) g_ptrPool->Free(ownBuffer);
  return error;
}

ErrorCode CFile::LoadBlock(u32 position, u32 size, void** block) {
  *block = g_ptrPool->Alloc(size);
  if (!*block) return ERR_NOTENOUGHMEM;
  ErrorCode error = ReadAt(*block, position, size, nullptr);
  if (error) {
    g_ptrPool->Free(*block);
    *block = nullptr;
  }
  return error;
}

ErrorCode CFile::FreeBlock(void* block) {
  g_ptrPool->Free(block);
  return nullptr;
}

ErrorCode CFile::Reserved15() { return nullptr; }
ErrorCode CFile::Reserved16() { return nullptr; }
ErrorCode CFile::GetProperty(u32, void*, u32) { return ERR_UNKNOWNPID; }
ErrorCode CFile::SetProperty(u32, void*, u32) { return ERR_UNKNOWNPID; }
