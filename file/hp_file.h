// A file whose bytes are the block of one handle of a handle pool: reading, writing and resizing
// the file read, write and resize that block.
#pragma once

#include "core/pools.h"
#include "file/file.h"

class CHPFile : public CFile {
  VORN_DECLARE_CLASS(CHPFile, CFile, CLASS_CHPFILE)

 public:
  // The pool is not owned; the handle stays in the pool when the file is destroyed.
  CHPFile(CHandlePool* pool, PoolHandle handle, u16 flags);
  ~CHPFile() override;

  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  ErrorCode Seek(i32 offset, u16 origin) override;
  u32 GetSize() override;
  u32 GetPosition() override;
  // Flushes the pool, then answers "Not implemented yet" whatever the pool said.
  ErrorCode Flush() override;
  ErrorCode Truncate() override;

  PoolHandle Handle() const { return handle; }

 protected:
  CHandlePool* pool;
  PoolHandle handle;
  u32 position = 0;
  u32 size;
};
