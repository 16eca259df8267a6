#include "copy.h"

#include "core/crc32.h"
#include "core/pools.h"
#include "progress.h"

ChunkBuffer::ChunkBuffer(u32 size)
    : data_(static_cast<u8*>(g_ptrPool->Alloc(size))), size_(data_ ? size : 0) {}

ChunkBuffer::~ChunkBuffer() {
  if (data_) g_ptrPool->Free(data_);
}

CopyResult CopyBytes(CFile* source, CFile* destination, u64 count, Progress* progress, u32* crc) {
  CopyResult result;
  if (crc) *crc = 0;
  ChunkBuffer buffer(kCopyChunk);
  if (!buffer.Data()) {
    result.error = ERR_NOTENOUGHMEM;
    return result;
  }
  while (count > 0) {
    const u32 want = count < buffer.Size() ? static_cast<u32>(count) : buffer.Size();
    u32 got = 0;
    ErrorCode error = source->Read(buffer.Data(), want, &got);
    if (got != want) {
      result.readFailed = true;
      result.sourceShort = !error || error == ERR_EOF;
      result.error = error ? error : ERR_EOF;
      return result;
    }
    if (error) {
      result.readFailed = true;
      result.error = error;
      return result;
    }
    if (crc) *crc = Crc32Update(*crc, buffer.Data(), want);
    u32 written = 0;
    error = destination->Write(buffer.Data(), want, &written);
    if (!error && written != want) error = ERR_DISKFULL;
    if (error) {
      result.error = error;
      return result;
    }
    count -= want;
    if (progress) progress->Advance(want);
  }
  return result;
}
