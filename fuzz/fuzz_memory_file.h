// An in-memory file for the fuzz targets: behaves like a disk file (a short read reports EOF with
// the count, writes extend the file, Truncate cuts at the position) but refuses to grow past a
// cap, so that corrupt positions in the data cannot make the harness allocate gigabytes.
#pragma once

#include <cstring>
#include <vector>

#include "file/file.h"

class FuzzMemoryFile : public CFile {
 public:
  static constexpr u32 kDefaultCap = 4u << 20;

  FuzzMemoryFile(const u8* data, size_t size, u64 capBytes = kDefaultCap)
      : CFile(nullptr, 0), bytes(data, data + size), cap(capBytes) {
    isOpen = 1;
  }

  ErrorCode Read(void* buffer, u32 size, u32* done) override {
    u32 available = position < bytes.size() ? static_cast<u32>(bytes.size()) - position : 0;
    u32 count = size < available ? size : available;
    if (count) std::memcpy(buffer, bytes.data() + position, count);
    position += count;
    if (done) *done = count;
    return count == size ? nullptr : ERR_EOF;
  }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override {
    if (done) *done = 0;
    if (static_cast<u64>(position) + size > cap) return ERR_DISKFULL;
    if (size) {
      if (bytes.size() < static_cast<size_t>(position) + size) bytes.resize(position + size);
      std::memcpy(bytes.data() + position, buffer, size);
    }
    position += size;
    if (done) *done = size;
    return nullptr;
  }
  ErrorCode Seek(i32 offset, u16 origin) override {
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
  u32 GetSize() override { return static_cast<u32>(bytes.size()); }
  u32 GetPosition() override { return position; }
  ErrorCode Truncate() override {
    if (position > cap) return ERR_DISKFULL;
    bytes.resize(position);
    return nullptr;
  }

  std::vector<u8> bytes;
  u32 position = 0;
  u64 cap;
};
