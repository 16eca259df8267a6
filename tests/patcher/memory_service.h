// A file service over files and folders in memory, for driving the patcher without a disk.
// Paths are full paths with backslashes, compared exactly; folders are explicit entries.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "file/file_service.h"

struct MemoryStorage {
  struct Entry {
    bool directory = false;
    std::shared_ptr<std::vector<u8>> bytes;
  };
  std::map<std::string, Entry> entries;
  std::set<std::string> readOnly;        // opening these for writing, or replacing them, fails
  std::map<std::string, int> failOpens;  // held open: the next n opens or replaces of it fail
  std::set<std::string> failReads;       // reads of these files fail
  std::vector<std::string> opened;       // every path opened for writing, in order
  int openFiles = 0;                     // files made and not yet destroyed

  void AddFolder(const std::string& path);  // with its parents
  void AddFile(const std::string& path, const std::string& content);
  bool HasFile(const std::string& path) const;
  bool HasFolder(const std::string& path) const;
  std::string Content(const std::string& path) const;
};

class MemoryService : public CFileService {
 public:
  explicit MemoryService(std::shared_ptr<MemoryStorage> storage_) : storage(std::move(storage_)) {}
  CFile* Open(const char* path, u16 flags, ErrorCode* error) override;
  u32 Exists(const char* path) override;
  ErrorCode Delete(const char* path) override;
  ErrorCode Replace(const char* oldPath, const char* newPath) override;
  ErrorCode CreateDir(const char* parent, const char* name) override;
  ErrorCode FindFirst(FindRecord* record, const char* directory) override;
  ErrorCode FindNext(FindRecord* record) override;
  ErrorCode FindClose(FindRecord* record) override;

  std::shared_ptr<MemoryStorage> storage;
};
