#include "memory_service.h"

#include <cstring>

namespace {

std::string WithoutTrailingBackslash(std::string path) {
  while (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  size_t at = path.rfind('\\');
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

class StoredFile : public CFile {
 public:
  StoredFile(std::shared_ptr<MemoryStorage> storage_, std::shared_ptr<std::vector<u8>> bytes_,
             bool failReads_)
      : CFile(nullptr, 0),
        storage(std::move(storage_)),
        bytes(std::move(bytes_)),
        failReads(failReads_) {
    isOpen = 1;
    ++storage->openFiles;
  }
  ~StoredFile() override { --storage->openFiles; }
  ErrorCode Read(void* buffer, u32 size, u32* done) override {
    if (done) *done = 0;
    if (failReads) return ERR_READFAIL;
    u32 available = position < bytes->size() ? static_cast<u32>(bytes->size()) - position : 0;
    u32 count = size < available ? size : available;
    if (count) std::memcpy(buffer, bytes->data() + position, count);
    position += count;
    if (done) *done = count;
    return count == size ? nullptr : ERR_EOF;
  }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override {
    if (bytes->size() < static_cast<size_t>(position) + size) bytes->resize(position + size);
    if (size) std::memcpy(bytes->data() + position, buffer, size);
    position += size;
    if (done) *done = size;
    return nullptr;
  }
  ErrorCode Seek(i32 offset, u16 origin) override {
    i64 base = origin == SEEK_FROM_START     ? 0
               : origin == SEEK_FROM_CURRENT ? position
                                             : bytes->size();
    if (base + offset < 0) return ERR_SEEKFAIL;
    position = static_cast<u32>(base + offset);
    return nullptr;
  }
  u32 GetSize() override { return static_cast<u32>(bytes->size()); }
  u32 GetPosition() override { return position; }

 private:
  std::shared_ptr<MemoryStorage> storage;
  std::shared_ptr<std::vector<u8>> bytes;
  bool failReads;
  u32 position = 0;
};

struct Listing {
  std::vector<std::pair<std::string, bool>> entries;
  size_t next = 0;
};

bool Advance(FindRecord* record) {
  Listing* listing = static_cast<Listing*>(record->data);
  if (!listing || listing->next >= listing->entries.size()) return false;
  auto& entry = listing->entries[listing->next++];
  record->name = &entry.first[0];
  record->attributes = entry.second ? ATTR_DIRECTORY : ATTR_NORMAL;
  return true;
}

// Whether another program holds the path open this time.
bool HeldOpen(MemoryStorage* storage, const std::string& path) {
  auto failing = storage->failOpens.find(path);
  if (failing == storage->failOpens.end() || failing->second == 0) return false;
  --failing->second;
  return true;
}

}  // namespace

void MemoryStorage::AddFolder(const std::string& path) {
  std::string folder = WithoutTrailingBackslash(path);
  if (folder.empty()) return;
  AddFolder(ParentOf(folder));
  entries[folder].directory = true;
}

void MemoryStorage::AddFile(const std::string& path, const std::string& content) {
  AddFolder(ParentOf(path));
  Entry& entry = entries[path];
  entry.directory = false;
  entry.bytes = std::make_shared<std::vector<u8>>(content.begin(), content.end());
}

bool MemoryStorage::HasFile(const std::string& path) const {
  auto it = entries.find(path);
  return it != entries.end() && !it->second.directory;
}

bool MemoryStorage::HasFolder(const std::string& path) const {
  auto it = entries.find(WithoutTrailingBackslash(path));
  return it != entries.end() && it->second.directory;
}

std::string MemoryStorage::Content(const std::string& path) const {
  auto it = entries.find(path);
  if (it == entries.end() || !it->second.bytes) return std::string();
  return std::string(it->second.bytes->begin(), it->second.bytes->end());
}

CFile* MemoryService::Open(const char* path, u16 flags, ErrorCode* error) {
  std::string name = path;
  auto fail = [&](ErrorCode code) -> CFile* {
    if (error) *error = code;
    return nullptr;
  };
  if (HeldOpen(storage.get(), name)) return fail(ERR_SHARING);
  auto it = storage->entries.find(name);
  const bool writing = (flags & (OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE)) != 0;
  if (it != storage->entries.end() && it->second.directory) return fail(ERR_ACCESSDENIED);
  if (writing && storage->readOnly.count(name)) return fail(ERR_ACCESSDENIED);
  if (it == storage->entries.end()) {
    if (!(flags & OPEN_CREATE)) return fail(ERR_FILENOTFOUND);
    const std::string parent = ParentOf(name);
    if (!parent.empty() && !storage->HasFolder(parent)) return fail(ERR_PATHNOTFOUND);
    storage->AddFile(name, "");
    it = storage->entries.find(name);
  } else if (flags & OPEN_TRUNCATE) {
    it->second.bytes = std::make_shared<std::vector<u8>>();
  }
  if (writing) storage->opened.push_back(name);
  if (error) *error = nullptr;
  return new StoredFile(storage, it->second.bytes, storage->failReads.count(name) > 0);
}

u32 MemoryService::Exists(const char* path) { return storage->HasFile(path) ? 1 : 0; }

ErrorCode MemoryService::Delete(const char* path) {
  return storage->entries.erase(path) ? nullptr : ERR_FILENOTFOUND;
}

ErrorCode MemoryService::Replace(const char* oldPath, const char* newPath) {
  if (!storage->HasFile(oldPath)) return ERR_FILENOTFOUND;
  if (storage->readOnly.count(newPath) || storage->HasFolder(newPath)) return ERR_ACCESSDENIED;
  if (HeldOpen(storage.get(), newPath)) return ERR_ACCESSDENIED;
  storage->entries[newPath] = storage->entries[oldPath];
  storage->entries.erase(oldPath);
  return nullptr;
}

ErrorCode MemoryService::CreateDir(const char* parent, const char* name) {
  const std::string base = WithoutTrailingBackslash(parent);
  if (!base.empty() && !storage->HasFolder(base)) return ERR_PATHNOTFOUND;
  const std::string path = base.empty() ? std::string(name) : base + "\\" + name;
  if (storage->entries.count(path)) return ERR_ALREADYEXISTS;
  storage->entries[path].directory = true;
  return nullptr;
}

ErrorCode MemoryService::FindFirst(FindRecord* record, const char* directory) {
  record->service = this;
  record->data = nullptr;
  const std::string base = WithoutTrailingBackslash(directory);
  if (!base.empty() && !storage->HasFolder(base)) return ERR_PATHNOTFOUND;
  const std::string prefix = base.empty() ? std::string() : base + "\\";
  Listing* listing = new Listing;
  for (const auto& [path, entry] : storage->entries) {
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = path.substr(prefix.size());
    if (rest.find('\\') == std::string::npos) listing->entries.push_back({rest, entry.directory});
  }
  record->data = listing;
  return Advance(record) ? nullptr : ERR_NOMOREFILES;
}

ErrorCode MemoryService::FindNext(FindRecord* record) {
  return Advance(record) ? nullptr : ERR_NOMOREFILES;
}

ErrorCode MemoryService::FindClose(FindRecord* record) {
  delete static_cast<Listing*>(record->data);
  record->data = nullptr;
  return nullptr;
}
