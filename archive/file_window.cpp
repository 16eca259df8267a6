#include "archive/file_window.h"

CFileWindow::CFileWindow(CFile* inner, u32 windowOffset, u32 windowSize, u32 owns)
    : CFile(inner, owns), offset(windowOffset), size(windowSize) {
  if (size == kToEnd) size = inner->GetSize() - offset;
  inner->Seek(static_cast<i32>(offset), SEEK_FROM_START);
}

ErrorCode CFileWindow::Read(void* buffer, u32 count, u32* done) {
  return baseFile->Read(buffer, count, done);
}

ErrorCode CFileWindow::ReadAt(void* buffer, u32 position, u32 count, u32* done) {
  return baseFile->ReadAt(buffer, offset + position, count, done);
}

ErrorCode CFileWindow::Write(const void* buffer, u32 count, u32* done) {
  return baseFile->Write(buffer, count, done);
}

ErrorCode CFileWindow::WriteAt(const void* buffer, u32 position, u32 count, u32* done) {
  return baseFile->WriteAt(buffer, offset + position, count, done);
}

ErrorCode CFileWindow::Seek(i32 distance, u16 origin) {
  // Positions are taken modulo 2^32, as in the inner file's own arithmetic.
  switch (origin) {
    case SEEK_FROM_START:
      return baseFile->Seek(static_cast<i32>(offset + static_cast<u32>(distance)), SEEK_FROM_START);
    case SEEK_FROM_CURRENT:
      return baseFile->Seek(distance, SEEK_FROM_CURRENT);
    case SEEK_FROM_END:
      return baseFile->Seek(static_cast<i32>(offset + size - static_cast<u32>(distance)),
                            SEEK_FROM_START);
    default:
      return nullptr;
  }
}

u32 CFileWindow::GetPosition() { return baseFile->GetPosition() - offset; }

ErrorCode CFileWindow::MoveData(u32 destination, u32 source, u32 count, u32 chunkSize,
                                void* buffer) {
  return baseFile->MoveData(offset + destination, offset + source, count, chunkSize, buffer);
}
