// In-memory file for tests of the layers above CFile. It behaves like a disk file (a short read
// reports EOF with the count, writes extend the file, Truncate cuts at the position), counts the
// calls made on it, and can be told to fail reads or writes from the Nth call on.
#pragma once

#include <vector>

#include "file/file.h"

class MemoryFile : public CFile {
 public:
  explicit MemoryFile(std::vector<u8> initial = {}) : CFile(nullptr, 0), bytes(std::move(initial)) {
    isOpen = 1;
  }

  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  ErrorCode Seek(i32 offset, u16 origin) override;
  u32 GetSize() override { return static_cast<u32>(bytes.size()); }
  u32 GetPosition() override { return position; }
  ErrorCode Flush() override;
  ErrorCode Truncate() override;

  std::vector<u8> bytes;
  u32 position = 0;

  // Call counters.
  u32 reads = 0;
  u32 writes = 0;
  u32 flushes = 0;

  // Fault injection: the read (write) with this 1-based number and all later ones fail with
  // failError. 0 disables.
  u32 failReadFrom = 0;
  u32 failWriteFrom = 0;
  ErrorCode failError = ERR_READFAIL;

  // Set on destruction, so tests can check ownership (who deleted the file).
  bool* destroyedFlag = nullptr;
  ~MemoryFile() override {
    if (destroyedFlag) *destroyedFlag = true;
  }
};
