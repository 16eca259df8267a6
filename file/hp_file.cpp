#include "file/hp_file.h"

CHPFile::CHPFile(CHandlePool* owner, PoolHandle bytes, u16 flags)
    : CFile(nullptr, 1), pool(owner), handle(bytes), size(owner->Size(bytes)) {
  openFlags = flags;
  isOpen = 1;
}

CHPFile::~CHPFile() = default;

ErrorCode CHPFile::Read(void* buffer, u32 count, u32* done) {
  u32 length;
  if (done) {
    if (position >= size) {
      *done = 0;
      return nullptr;
    }
    length = count < size - position ? count : size - position;
    *done = length;
  } else {
    if (static_cast<u64>(position) + count > size) return ERR_UNKNOWN;
    length = count;
  }
  // A pool refuses a transfer that starts at the end of its block, even an empty one.
  if (length == 0) return nullptr;
  ErrorCode error = pool->ReadHandle(handle, buffer, position, length);
  if (error) {
    if (done) *done = 0;
    return error;
  }
  position += length;
  return nullptr;
}

ErrorCode CHPFile::Write(const void* buffer, u32 count, u32* done) {
  if (done) *done = count;
  u64 end = static_cast<u64>(position) + count;
  if (end > 0xFFFFFFFFu) {
    if (done) *done = 0;
    return ERR_OUTOFRANGE;
  }
  if (end > size) {
    PoolHandle grown = pool->Realloc(handle, static_cast<u32>(end));
    if (!grown) {
      if (done) *done = 0;
      // Pools need not record why a resize failed; nothing was written either way.
      ErrorCode error = pool->GetError();
      return error ? error : ERR_REALLOCFAIL;
    }
    handle = grown;
    size = pool->Size(grown);
  }
  if (count == 0) return nullptr;
  ErrorCode error = pool->WriteHandle(handle, buffer, position, count);
  if (error) {
    if (done) *done = 0;
    return error;
  }
  position += count;
  return nullptr;
}

ErrorCode CHPFile::Seek(i32 offset, u16 origin) {
  switch (origin) {
    case SEEK_FROM_START:
      position = static_cast<u32>(offset);
      break;
    case SEEK_FROM_CURRENT:
      position += static_cast<u32>(offset);
      break;
    case SEEK_FROM_END:
      position = size + static_cast<u32>(offset);
      break;
    default:
      break;
  }
  return nullptr;
}

u32 CHPFile::GetSize() { return size; }
u32 CHPFile::GetPosition() { return position; }

ErrorCode CHPFile::Flush() {
  pool->Flush();
  return ERR_NOTIMPLEMENTED;
}

ErrorCode CHPFile::Truncate() {
  PoolHandle resized = pool->Realloc(handle, position);
  if (!resized) return ERR_UNKNOWN;
  handle = resized;
  size = position;
  return nullptr;
}
