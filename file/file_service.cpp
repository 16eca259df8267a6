#include "file/file_service.h"

CFileService::~CFileService() = default;

CFile* CFileService::Open(const char*, u16, ErrorCode*) { return nullptr; }
u32 CFileService::Exists(const char*) { return 0; }
ErrorCode CFileService::Delete(const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::Rename(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::CreateDir(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::RemoveDir(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindFirst(FindRecord*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindNext(FindRecord*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::FindClose(FindRecord*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::QueryInfo(const char*, u32, void*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::Reserved13(const char*, u32, u32) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::Replace(const char*, const char*) { return ERR_NOTIMPLEMENTED; }
ErrorCode CFileService::RenameOpen(CFile*, const char*, const char*) { return ERR_NOTIMPLEMENTED; }

u32 CFileService::GetFileOffset(const char*, ErrorCode* error) {
  if (error) *error = nullptr;
  return 0;
}
