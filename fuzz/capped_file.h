// Shared by the fuzz targets: a memory file that refuses to grow past a cap, as a nearly full
// disk would (corrupt positions in the data must not make a fuzz run allocate gigabytes), and the
// check that reports a fault by aborting.
#pragma once

#include <cstdlib>
#include <vector>

#include "support/memory_file.h"

class CappedFile : public MemoryFile {
 public:
  CappedFile(const u8* data, size_t size, u64 capBytes = 4u << 20)
      : MemoryFile(std::vector<u8>(data, data + size)), cap(capBytes) {}

  ErrorCode Write(const void* buffer, u32 size, u32* done) override {
    if (done) *done = 0;
    return position + u64{size} > cap ? ERR_DISKFULL : MemoryFile::Write(buffer, size, done);
  }
  ErrorCode Truncate() override { return position > cap ? ERR_DISKFULL : MemoryFile::Truncate(); }

  u64 cap;
};

inline void Check(bool condition) {
  if (!condition) std::abort();
}
