#include "support/sim_disk.h"

#include <gtest/gtest.h>

#include <cstring>

#include "file/file_service.h"
#include "support/failing_pools.h"

namespace {

SimDisk* g_disk;

std::string ParentOf(const std::string& path) {
  const size_t at = path.rfind('\\');
  return at == std::string::npos ? std::string() : path.substr(0, at);
}

OsHandle SimOpen(const char* path, u32 access, u32, u32 creation, u32) {
  return g_disk->Open(path, access, creation);
}
bool SimRead(OsHandle f, void* b, u32 n, u32* done) { return g_disk->Read(f, b, n, done); }
bool SimWrite(OsHandle f, const void* b, u32 n, u32* done) { return g_disk->Write(f, b, n, done); }
u32 SimSeek(OsHandle f, i32 offset, u32 method) { return g_disk->Seek(f, offset, method); }
u32 SimSize(OsHandle f) { return g_disk->Size(f); }
bool SimFlush(OsHandle f) { return g_disk->Flush(f); }
bool SimClose(OsHandle f) { return g_disk->Close(f); }
bool SimRemove(const char* path) { return g_disk->Remove(path); }
bool SimMakeDir(const char* path) { return g_disk->MakeDir(path); }
bool SimExists(const char* path) { return g_disk->Exists(path); }
bool SimReplace(const char* from, const char* to) { return g_disk->Replace(from, to); }
u32 SimSetHandleCount(u32 count) { return g_disk->Step() ? count : 0; }
u32 SimLastError() { return g_disk->lastError; }

// What the simulation does not model fails the test, so that nothing passes by not being run.
bool Unmodelled(const char* what) {
  ADD_FAILURE() << "the simulated disk has no " << what;
  return g_disk->Fail(OS_ERROR_INVALID_PARAMETER);
}
bool SimSetEnd(OsHandle) { return Unmodelled("SetEnd"); }
bool SimRename(const char*, const char*) { return Unmodelled("Rename"); }
bool SimRemoveDir(const char*) { return Unmodelled("RemoveDir"); }
OsHandle SimFindFirst(const char*, void*) { return Unmodelled("FindFirst"), kInvalidOsHandle; }
bool SimFindNext(OsHandle, void*) { return Unmodelled("FindNext"); }
bool SimFindEnd(OsHandle) { return Unmodelled("FindEnd"); }
u32 SimFullPath(const char*, u32, char*) { return Unmodelled("FullPath"), 0; }

const DiskOsTable kSimTable = {
    SimOpen,    SimRead,   SimWrite,    SimSeek,           SimSize,      SimFlush,     SimSetEnd,
    SimClose,   SimRemove, SimRename,   SimMakeDir,        SimRemoveDir, SimFindFirst, SimFindNext,
    SimFindEnd, SimExists, SimFullPath, SimSetHandleCount, SimLastError, SimReplace,
};

}  // namespace

SimDisk::SimDisk() {
  g_disk = this;
  g_diskOs = kSimTable;
}

SimDisk::~SimDisk() {
  DiskOsRestore();
  g_disk = nullptr;
}

void SimDisk::Load(const Image& image) {
  inodes_.clear();
  names_.clear();
  handles_.clear();
  for (const auto& [path, node] : image) {
    const int id = nextInode_++;
    inodes_[id] = Inode{node.folder, node.readOnly, node.bytes, node.bytes};
    names_[path] = id;
  }
  committed_ = names_;
  fault_ = Fault::kNone;
  stopped_ = false;
}

SimDisk::Image SimDisk::Picture(const std::map<std::string, int>& names, bool durable) const {
  Image image;
  for (const auto& [path, id] : names) {
    const Inode& inode = inodes_.at(id);
    image[path] = Node{inode.folder, inode.readOnly, durable ? inode.durable : inode.cached};
  }
  return image;
}

SimDisk::Image SimDisk::Killed() const { return Picture(names_, false); }
SimDisk::Image SimDisk::PowerCut() const { return Picture(committed_, true); }

void SimDisk::Arm(Fault fault, u32 at, const std::string& path) {
  fault_ = fault;
  at_ = at;
  faultPath_ = path;
  counted_ = 0;
  injected_ = stopped_ = false;
}

bool SimDisk::Fail(u32 error) {
  lastError = error;
  return false;
}

bool SimDisk::Counts(Fault kind) {
  if (fault_ != kind || injected_ || ++counted_ != at_) return false;
  injected_ = true;
  return true;
}

bool SimDisk::Step() {
  if (Counts(Fault::kStop)) stopped_ = true;
  return stopped_ ? Fail(OS_ERROR_NOT_READY) : true;
}

SimDisk::Inode* SimDisk::Find(const std::string& path) {
  auto it = names_.find(path);
  return it == names_.end() ? nullptr : &inodes_[it->second];
}

bool SimDisk::ParentExists(const std::string& path) const {
  const std::string parent = ParentOf(path);
  auto it = names_.find(parent);
  return parent.empty() || (it != names_.end() && inodes_.at(it->second).folder);
}

bool SimDisk::InUse(int inode) const {
  for (const auto& [handle, open] : handles_) {
    if (open.inode == inode) return true;
  }
  return false;
}

SimDisk::Handle* SimDisk::HandleOf(OsHandle file) {
  auto it = handles_.find(file);
  return it == handles_.end() ? nullptr : &it->second;
}

u32 SimDisk::Attributes(const std::string& path) {
  const Inode* inode = Step() ? Find(path) : nullptr;
  if (!inode) return 0xFFFFFFFFu;
  return (inode->folder ? ATTR_DIRECTORY : ATTR_ARCHIVE) | (inode->readOnly ? ATTR_READONLY : 0);
}

bool SimDisk::SetAttributes(const std::string& path, u32 attributes) {
  if (!Step()) return false;
  Inode* inode = Find(path);
  if (!inode) return Fail(OS_ERROR_FILE_NOT_FOUND);
  inode->readOnly = (attributes & ATTR_READONLY) != 0;
  return true;
}

OsHandle SimDisk::Open(const char* path, u32 access, u32 creation) {
  if (!Step()) return kInvalidOsHandle;
  if (!ParentExists(path)) return Fail(OS_ERROR_PATH_NOT_FOUND), kInvalidOsHandle;
  Inode* inode = Find(path);
  if (inode && (inode->folder || (inode->readOnly && (access & OS_ACCESS_WRITE)))) {
    return Fail(OS_ERROR_ACCESS_DENIED), kInvalidOsHandle;
  }
  if (inode && creation == OS_CREATE_NEW) return Fail(OS_ERROR_FILE_EXISTS), kInvalidOsHandle;
  if (!inode && creation == OS_OPEN_EXISTING) {
    return Fail(OS_ERROR_FILE_NOT_FOUND), kInvalidOsHandle;
  }
  if (!inode) {
    names_[path] = nextInode_;
    inode = &inodes_[nextInode_++];
  } else if (creation == OS_CREATE_ALWAYS) {
    inode->cached.clear();
  }
  const OsHandle handle = nextHandle_++;
  handles_[handle] = Handle{names_[path], 0, faultPath_ == path};
  lastError = OS_ERROR_SUCCESS;
  return handle;
}

bool SimDisk::Read(OsHandle file, void* buffer, u32 size, u32* done) {
  *done = 0;
  Handle* handle = HandleOf(file);
  if (!Step()) return false;
  if (!handle) return Fail(OS_ERROR_INVALID_HANDLE);
  if (handle->reads && Counts(Fault::kReadError)) return Fail(OS_ERROR_IO_DEVICE);
  const std::string& bytes = inodes_[handle->inode].cached;
  if (handle->position < bytes.size()) {
    *done = static_cast<u32>(std::min<size_t>(size, bytes.size() - handle->position));
    std::memcpy(buffer, bytes.data() + handle->position, *done);
  }
  handle->position += *done;
  return true;
}

bool SimDisk::Write(OsHandle file, const void* buffer, u32 size, u32* done) {
  *done = 0;
  Handle* handle = HandleOf(file);
  if (!Step()) return false;
  if (!handle) return Fail(OS_ERROR_INVALID_HANDLE);
  const bool full = Counts(Fault::kDiskFull);
  const u32 count = full ? size / 2 : size;
  std::string& bytes = inodes_[handle->inode].cached;
  if (bytes.size() < handle->position + count) bytes.resize(handle->position + count);
  if (count) std::memcpy(&bytes[handle->position], buffer, count);
  handle->position += count;
  *done = count;
  return full ? Fail(OS_ERROR_DISK_FULL) : true;
}

u32 SimDisk::Seek(OsHandle file, i32 offset, u32 method) {
  Handle* handle = HandleOf(file);
  if (!Step()) return OS_SEEK_FAILED;
  if (!handle) return Fail(OS_ERROR_INVALID_HANDLE), OS_SEEK_FAILED;
  const i64 base = method == 0   ? 0
                   : method == 1 ? handle->position
                                 : static_cast<i64>(inodes_[handle->inode].cached.size());
  if (base + offset < 0) return Fail(OS_ERROR_NEGATIVE_SEEK), OS_SEEK_FAILED;
  handle->position = static_cast<u32>(base + offset);
  lastError = OS_ERROR_SUCCESS;
  return handle->position;
}

u32 SimDisk::Size(OsHandle file) {
  Handle* handle = HandleOf(file);
  if (!Step() || !handle) return 0xFFFFFFFFu;
  return static_cast<u32>(inodes_[handle->inode].cached.size());
}

bool SimDisk::Flush(OsHandle file) {
  Handle* handle = HandleOf(file);
  if (!Step()) return false;
  if (!handle) return Fail(OS_ERROR_INVALID_HANDLE);
  Inode& inode = inodes_[handle->inode];
  inode.durable = inode.cached;
  return true;
}

bool SimDisk::Close(OsHandle file) {
  const bool known = handles_.erase(file) != 0;  // a handle is gone even when the call fails
  if (!Step()) return false;
  return known || Fail(OS_ERROR_INVALID_HANDLE);
}

bool SimDisk::Remove(const char* path) {
  if (!Step()) return false;
  auto it = names_.find(path);
  if (it == names_.end()) return Fail(OS_ERROR_FILE_NOT_FOUND);
  if (inodes_[it->second].folder || InUse(it->second)) return Fail(OS_ERROR_ACCESS_DENIED);
  names_.erase(it);
  return true;
}

bool SimDisk::MakeDir(const char* path) {
  if (!Step()) return false;
  if (!ParentExists(path)) return Fail(OS_ERROR_PATH_NOT_FOUND);
  if (names_.count(path)) return Fail(OS_ERROR_ALREADY_EXISTS);
  names_[path] = nextInode_;
  inodes_[nextInode_++].folder = true;
  return true;
}

bool SimDisk::Exists(const char* path) {
  const Inode* inode = Step() ? Find(path) : nullptr;
  return inode && !inode->folder;
}

bool SimDisk::Replace(const char* from, const char* to) {
  if (!Step()) return false;
  auto source = names_.find(from);
  if (source == names_.end()) return Fail(OS_ERROR_FILE_NOT_FOUND);
  const Inode* target = Find(to);
  if (InUse(source->second) || (target && (target->folder || target->readOnly))) {
    return Fail(OS_ERROR_ACCESS_DENIED);
  }
  if (target && InUse(names_[to])) return Fail(OS_ERROR_ACCESS_DENIED);
  names_[to] = source->second;
  names_.erase(from);
  committed_ = names_;
  return true;
}

u32 RunWithDiskFaults(const std::function<void(SimDisk& disk, u32 at)>& fn, u32 maxRuns) {
  for (u32 at = 1; at <= maxRuns; ++at) {
    SCOPED_TRACE(::testing::Message() << "disk fault at call " << at);
    const int failuresBefore = FailedPartsSoFar();
    SimDisk disk;
    fn(disk, at);
    if (FailedPartsSoFar() != failuresBefore || !disk.Injected()) return at;
  }
  ADD_FAILURE() << "disk-fault walk did not end within " << maxRuns << " runs";
  return maxRuns;
}
