// A pass-through file that moves a progress bar by the bytes read through it, so that checks
// which read a whole file through the toolkit show their progress.
#pragma once

#include "file/file.h"
#include "progress.h"

class CountingFile : public CFile {
 public:
  CountingFile(CFile* inner, Progress* progress) : CFile(inner, 0), progress_(progress) {
    isOpen = inner->isOpen;
  }

  // A null `done` keeps its all-or-nothing meaning for the inner file.
  ErrorCode Read(void* buffer, u32 size, u32* done) override {
    ErrorCode error = baseFile->Read(buffer, size, done);
    Count(error, size, done);
    return error;
  }
  ErrorCode ReadAt(void* buffer, u32 position, u32 size, u32* done) override {
    ErrorCode error = baseFile->ReadAt(buffer, position, size, done);
    Count(error, size, done);
    return error;
  }
  ErrorCode Seek(i32 offset, u16 origin) override { return baseFile->Seek(offset, origin); }
  u32 GetSize() override { return baseFile->GetSize(); }
  u32 GetPosition() override { return baseFile->GetPosition(); }

 private:
  void Count(ErrorCode error, u32 size, const u32* done) {
    if (progress_) progress_->Advance(done ? *done : (error ? 0 : size));
  }

  Progress* progress_;
};
