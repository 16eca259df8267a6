// A window over a region of another file: position 0 of the window is a fixed offset in the
// inner file. The window keeps no position of its own (it shifts the inner file's) and does not
// clip requests at its size: its size only answers GetSize, which the LZSS stream takes as the
// end of its last stored block.
#pragma once

#include "file/file.h"

class CFileWindow : public CFile {
 public:
  // size kToEnd: up to the end of the inner file.
  static constexpr u32 kToEnd = 0xFFFFFFFFu;

  CFileWindow(CFile* inner, u32 offset, u32 size, u32 ownsBase);

  // Sequential access goes to the inner file, whose position Seek sets.
  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode ReadAt(void* buffer, u32 position, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  ErrorCode WriteAt(const void* buffer, u32 position, u32 size, u32* done) override;
  // Origin 2 counts the distance backwards from the window's end: Seek(4, 2) lands 4 bytes
  // before it. Stored containers and their readers rely on this, unlike other file kinds.
  ErrorCode Seek(i32 distance, u16 origin) override;
  u32 GetSize() override { return size; }
  u32 GetPosition() override;
  ErrorCode Flush() override { return nullptr; }
  ErrorCode Truncate() override { return nullptr; }
  ErrorCode MoveData(u32 destination, u32 source, u32 count, u32 chunkSize, void* buffer) override;

  u32 offset;
  u32 size;
};
