#include "support/memory_file.h"

#include <cstring>

ErrorCode MemoryFile::Read(void* buffer, u32 size, u32* done) {
  ++reads;
  if (failReadFrom && reads >= failReadFrom) {
    if (done) *done = 0;
    return failError;
  }
  u32 available = position < bytes.size() ? static_cast<u32>(bytes.size()) - position : 0;
  u32 count = size < available ? size : available;
  if (count) std::memcpy(buffer, bytes.data() + position, count);
  position += count;
  if (done) *done = count;
  return count == size ? nullptr : ERR_EOF;
}

ErrorCode MemoryFile::Write(const void* buffer, u32 size, u32* done) {
  ++writes;
  if (failWriteFrom && writes >= failWriteFrom) {
    if (done) *done = 0;
    return failError;
  }
  if (size) {
    if (bytes.size() < static_cast<size_t>(position) + size) bytes.resize(position + size);
    std::memcpy(bytes.data() + position, buffer, size);
  }
  position += size;
  if (done) *done = size;
  return nullptr;
}

ErrorCode MemoryFile::Seek(i32 offset, u16 origin) {
  i64 base = origin == SEEK_FROM_START     ? 0
             : origin == SEEK_FROM_CURRENT ? static_cast<i64>(position)
             : origin == SEEK_FROM_END     ? static_cast<i64>(bytes.size())
                                           : -1;
  if (base < 0) return ERR_SEEKFAIL;
  i64 target = base + offset;
  if (target < 0 || target > 0xFFFFFFFFll) return ERR_SEEKFAIL;
  position = static_cast<u32>(target);
  return nullptr;
}

ErrorCode MemoryFile::Flush() {
  ++flushes;
  return nullptr;
}

ErrorCode MemoryFile::Truncate() {
  bytes.resize(position);
  return nullptr;
}
