#include "support/sim_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "file/file_service.h"

struct SimDisk::State {
  struct Inode {
    bool folder = false;
    bool readOnly = false;
    std::string cached, durable;
  };
  struct Handle {
    int inode;
    u32 position;
    bool counted;    // reads of the file that kReadError names
    bool renamable;  // opened with OS_ACCESS_DELETE
  };
  std::map<int, Inode> inodes;
  std::map<std::string, int> names, committed;
  std::map<OsHandle, Handle> handles;
  int nextInode = 1;
  OsHandle nextHandle = 100;
  Fault fault = Fault::kNone;
  u32 at = 0, counted = 0, lastError = 0;
  std::string faultPath;
  bool injected = false, stopped = false;
  size_t capacity = SIZE_MAX;

  size_t Room() const {
    size_t stored = 0;
    for (const auto& entry : inodes) stored += entry.second.cached.size();
    return stored < capacity ? capacity - stored : 0;
  }

  bool Fail(u32 error) {
    lastError = error;
    return false;
  }
  bool Counts(Fault kind) {
    if (fault != kind || injected || ++counted != at) return false;
    return injected = true;
  }
  bool Step() {
    if (Counts(Fault::kStop)) stopped = true;
    return stopped ? Fail(OS_ERROR_NOT_READY) : true;
  }
  Inode* Find(const std::string& path) {
    auto it = names.find(path);
    return it == names.end() ? nullptr : &inodes[it->second];
  }
  bool ParentExists(const std::string& path) {
    const size_t cut = path.rfind('\\');
    const Inode* parent = cut == std::string::npos ? nullptr : Find(path.substr(0, cut));
    return cut == std::string::npos || (parent && parent->folder);
  }
  // Open through any handle but `except` (a rename through that handle).
  bool InUse(int inode, OsHandle except = kInvalidOsHandle) const {
    return std::any_of(handles.begin(), handles.end(), [&](const auto& open) {
      return open.first != except && open.second.inode == inode;
    });
  }
  // The open file of a call, or null (with the error set) when the call is to fail.
  Handle* Use(OsHandle file) {
    auto it = handles.find(file);
    if (!Step()) return nullptr;
    if (it == handles.end()) return Fail(OS_ERROR_INVALID_HANDLE), nullptr;
    return &it->second;
  }
  Image Picture(const std::map<std::string, int>& paths, bool durable) const {
    Image image;
    for (const auto& [path, id] : paths) {
      const Inode& inode = inodes.at(id);
      image[path] = Node{inode.folder, inode.readOnly, durable ? inode.durable : inode.cached};
    }
    return image;
  }
};

namespace {

SimDisk::State* g_sim;

OsHandle SimOpen(const char* path, u32 access, u32, u32 creation, u32) {
  if (!g_sim->Step()) return kInvalidOsHandle;
  if (!g_sim->ParentExists(path)) return g_sim->Fail(OS_ERROR_PATH_NOT_FOUND), kInvalidOsHandle;
  SimDisk::State::Inode* inode = g_sim->Find(path);
  u32 refusal = 0;
  if (inode && (inode->folder || (inode->readOnly && (access & OS_ACCESS_WRITE)))) {
    refusal = OS_ERROR_ACCESS_DENIED;
  } else if (inode && creation == OS_CREATE_NEW) {
    refusal = OS_ERROR_FILE_EXISTS;
  } else if (!inode && creation == OS_OPEN_EXISTING) {
    refusal = OS_ERROR_FILE_NOT_FOUND;
  }
  if (refusal) return g_sim->Fail(refusal), kInvalidOsHandle;
  if (!inode) {
    g_sim->names[path] = g_sim->nextInode;
    inode = &g_sim->inodes[g_sim->nextInode++];
  } else if (creation == OS_CREATE_ALWAYS) {
    inode->cached.clear();
  }
  g_sim->handles[g_sim->nextHandle] = {g_sim->names[path], 0, g_sim->faultPath == path,
                                       (access & OS_ACCESS_DELETE) != 0};
  g_sim->lastError = OS_ERROR_SUCCESS;
  return g_sim->nextHandle++;
}

bool SimRead(OsHandle file, void* buffer, u32 size, u32* done) {
  *done = 0;
  SimDisk::State::Handle* handle = g_sim->Use(file);
  if (!handle) return false;
  if (handle->counted && g_sim->Counts(SimDisk::Fault::kReadError)) {
    return g_sim->Fail(OS_ERROR_IO_DEVICE);
  }
  const std::string& bytes = g_sim->inodes[handle->inode].cached;
  if (handle->position < bytes.size()) {
    *done = static_cast<u32>(std::min<size_t>(size, bytes.size() - handle->position));
    std::memcpy(buffer, bytes.data() + handle->position, *done);
  }
  handle->position += *done;
  return true;
}

bool SimWrite(OsHandle file, const void* buffer, u32 size, u32* done) {
  *done = 0;
  SimDisk::State::Handle* handle = g_sim->Use(file);
  if (!handle) return false;
  std::string& bytes = g_sim->inodes[handle->inode].cached;
  const size_t end = size_t{handle->position} + size;
  const size_t over =
      end > bytes.size() ? end - bytes.size() - std::min(end - bytes.size(), g_sim->Room()) : 0;
  const bool full = g_sim->Counts(SimDisk::Fault::kDiskFull) || over > 0;
  *done = over > 0 ? (over >= size ? 0 : size - static_cast<u32>(over)) : full ? size / 2 : size;
  if (bytes.size() < handle->position + *done) bytes.resize(handle->position + *done);
  if (*done) std::memcpy(&bytes[handle->position], buffer, *done);
  handle->position += *done;
  return full ? g_sim->Fail(OS_ERROR_DISK_FULL) : true;
}

u32 SimSeek(OsHandle file, i64 offset, u32 method) {
  SimDisk::State::Handle* handle = g_sim->Use(file);
  if (!handle) return OS_SEEK_FAILED;
  const i64 end = static_cast<i64>(g_sim->inodes[handle->inode].cached.size());
  const i64 target = offset + (method == 0 ? 0 : method == 1 ? i64{handle->position} : end);
  if (target < 0) return g_sim->Fail(OS_ERROR_NEGATIVE_SEEK), OS_SEEK_FAILED;
  if (target > 0xFFFFFFFFll) return g_sim->Fail(OS_ERROR_INVALID_PARAMETER), OS_SEEK_FAILED;
  g_sim->lastError = OS_ERROR_SUCCESS;
  return handle->position = static_cast<u32>(target);
}

u32 SimSize(OsHandle file) {
  SimDisk::State::Handle* handle = g_sim->Use(file);
  return handle ? static_cast<u32>(g_sim->inodes[handle->inode].cached.size()) : 0xFFFFFFFFu;
}

bool SimFlush(OsHandle file) {
  SimDisk::State::Handle* handle = g_sim->Use(file);
  if (!handle) return false;
  SimDisk::State::Inode& inode = g_sim->inodes[handle->inode];
  inode.durable = inode.cached;
  return true;
}

bool SimClose(OsHandle file) {
  const bool known = g_sim->handles.erase(file) != 0;  // gone even when the call fails
  return g_sim->Step() && (known || g_sim->Fail(OS_ERROR_INVALID_HANDLE));
}

bool SimRemove(const char* path) {
  if (!g_sim->Step()) return false;
  const SimDisk::State::Inode* inode = g_sim->Find(path);
  if (!inode) return g_sim->Fail(OS_ERROR_FILE_NOT_FOUND);
  if (inode->folder) return g_sim->Fail(OS_ERROR_ACCESS_DENIED);
  g_sim->names.erase(path);
  return true;
}

bool SimMakeDir(const char* path) {
  if (!g_sim->Step()) return false;
  if (!g_sim->ParentExists(path)) return g_sim->Fail(OS_ERROR_PATH_NOT_FOUND);
  if (g_sim->names.count(path)) return g_sim->Fail(OS_ERROR_ALREADY_EXISTS);
  g_sim->names[path] = g_sim->nextInode;
  g_sim->inodes[g_sim->nextInode++].folder = true;
  return true;
}

bool SimRemoveDir(const char* path) {
  if (!g_sim->Step()) return false;
  const SimDisk::State::Inode* inode = g_sim->Find(path);
  if (!inode) return g_sim->Fail(OS_ERROR_FILE_NOT_FOUND);
  const std::string below = std::string(path) + "\\";
  auto next = g_sim->names.lower_bound(below);
  if (next != g_sim->names.end() && next->first.compare(0, below.size(), below) == 0) {
    return g_sim->Fail(OS_ERROR_DIR_NOT_EMPTY);
  }
  if (!inode->folder) return g_sim->Fail(OS_ERROR_DIRECTORY);
  g_sim->names.erase(path);
  return true;
}

bool SimExists(const char* path) {
  const SimDisk::State::Inode* inode = g_sim->Step() ? g_sim->Find(path) : nullptr;
  return inode && !inode->folder;
}

// A rename refuses an existing target and, not written through, leaves the names cached. Only
// the handle it goes through (`through`) may hold the file open.
bool Move(const char* from, const char* to, bool replace, OsHandle through = kInvalidOsHandle) {
  if (!g_sim->Step()) return false;
  auto source = g_sim->names.find(from);
  if (source == g_sim->names.end()) return g_sim->Fail(OS_ERROR_FILE_NOT_FOUND);
  if (through != kInvalidOsHandle) {
    auto open = g_sim->handles.find(through);
    if (open == g_sim->handles.end()) return g_sim->Fail(OS_ERROR_INVALID_HANDLE);
    if (open->second.inode != source->second) return g_sim->Fail(OS_ERROR_INVALID_PARAMETER);
    if (!open->second.renamable) return g_sim->Fail(OS_ERROR_ACCESS_DENIED);
  }
  if (!g_sim->ParentExists(to)) return g_sim->Fail(OS_ERROR_PATH_NOT_FOUND);
  auto target = g_sim->names.find(to);
  if (!replace && target != g_sim->names.end()) return g_sim->Fail(OS_ERROR_ALREADY_EXISTS);
  const SimDisk::State::Inode* old =
      target == g_sim->names.end() ? nullptr : &g_sim->inodes[target->second];
  if (g_sim->InUse(source->second, through) ||
      (old && (old->folder || old->readOnly || g_sim->InUse(target->second)))) {
    return g_sim->Fail(OS_ERROR_ACCESS_DENIED);
  }
  const int moved = source->second;
  g_sim->names.erase(source);
  g_sim->names[to] = moved;
  if (replace) g_sim->committed = g_sim->names;
  return true;
}
bool SimReplace(const char* from, const char* to) { return Move(from, to, true); }
bool SimRename(const char* from, const char* to) { return Move(from, to, false); }
bool SimRenameOpen(OsHandle file, const char* from, const char* to) {
  return Move(from, to, false, file);
}

u32 SimSetHandleCount(u32 count) { return g_sim->Step() ? count : 0; }
u32 SimLastError() { return g_sim->lastError; }

// What the simulation does not model fails the test, so that nothing passes by not being run.
bool Unmodelled(const char* what) {
  ADD_FAILURE() << "the simulated disk has no " << what;
  return g_sim->Fail(OS_ERROR_INVALID_PARAMETER);
}
bool SimSetEnd(OsHandle) { return Unmodelled("SetEnd"); }
OsHandle SimFindFirst(const char*, void*) { return Unmodelled("FindFirst"), kInvalidOsHandle; }
bool SimFindNext(OsHandle, void*) { return Unmodelled("FindNext"); }
bool SimFindEnd(OsHandle) { return Unmodelled("FindEnd"); }
u32 SimFullPath(const char*, u32, char*) { return Unmodelled("FullPath"), 0; }

const DiskOsTable kSimTable = {
    SimOpen,      SimRead,     SimWrite,      SimSeek,   SimSize,     SimFlush,
    SimSetEnd,    SimClose,    SimRemove,     SimRename, SimMakeDir,  SimRemoveDir,
    SimFindFirst, SimFindNext, SimFindEnd,    SimExists, SimFullPath, SimSetHandleCount,
    SimLastError, SimReplace,  SimRenameOpen,
};

}  // namespace

SimDisk::SimDisk() : state_(new State) {
  g_sim = state_.get();
  g_diskOs = kSimTable;
}

SimDisk::~SimDisk() {
  DiskOsRestore();
  g_sim = nullptr;
}

void SimDisk::Load(const Image& image) {
  state_->inodes.clear();
  state_->names.clear();
  state_->handles.clear();
  for (const auto& [path, node] : image) {
    state_->inodes[state_->nextInode] = {node.folder, node.readOnly, node.bytes, node.bytes};
    state_->names[path] = state_->nextInode++;
  }
  state_->committed = state_->names;
  state_->fault = Fault::kNone;
  state_->stopped = false;
}

SimDisk::Image SimDisk::Killed() const { return state_->Picture(state_->names, false); }
SimDisk::Image SimDisk::PowerCut() const { return state_->Picture(state_->committed, true); }

void SimDisk::Arm(Fault fault, u32 at, const std::string& path) {
  state_->fault = fault;
  state_->at = at;
  state_->faultPath = path;
  state_->counted = 0;
  state_->injected = state_->stopped = false;
}

void SimDisk::LimitSize(size_t bytes) { state_->capacity = bytes; }
bool SimDisk::Injected() const { return state_->injected; }
bool SimDisk::Stopped() const { return state_->stopped; }
bool SimDisk::Step() { return state_->Step(); }
bool SimDisk::Exists(const std::string& path) { return SimExists(path.c_str()); }
size_t SimDisk::OpenHandles() const { return state_->handles.size(); }

u32 SimDisk::Attributes(const std::string& path) {
  const State::Inode* inode = Step() ? state_->Find(path) : nullptr;
  if (!inode) return 0xFFFFFFFFu;
  return (inode->folder ? ATTR_DIRECTORY : ATTR_ARCHIVE) | (inode->readOnly ? ATTR_READONLY : 0);
}

bool SimDisk::SetAttributes(const std::string& path, u32 attributes) {
  if (!Step()) return false;
  State::Inode* inode = state_->Find(path);
  if (!inode) return state_->Fail(OS_ERROR_FILE_NOT_FOUND);
  inode->readOnly = (attributes & ATTR_READONLY) != 0;
  return true;
}
