// Streaming copies between files in bounded chunks.
#pragma once

#include "file/file.h"

class Progress;

struct CopyResult {
  ErrorCode error = nullptr;
  bool readFailed = false;   // the error came from the source (else from the destination)
  bool sourceShort = false;  // the source ended before `count` bytes
};

constexpr u32 kCopyChunk = 64 * 1024;

// Reads `count` bytes from the source's current position and writes them at the destination's.
// crc (may be null) receives the CRC-32 of the bytes copied.
CopyResult CopyBytes(CFile* source, CFile* destination, u64 count, Progress* progress,
                     u32* crc = nullptr);

// A chunk buffer from the pointer pool.
class ChunkBuffer {
 public:
  explicit ChunkBuffer(u32 size);
  ~ChunkBuffer();
  u8* Data() { return data_; }
  u32 Size() const { return size_; }

  ChunkBuffer(const ChunkBuffer&) = delete;
  ChunkBuffer& operator=(const ChunkBuffer&) = delete;

 private:
  u8* data_;
  u32 size_;
};
