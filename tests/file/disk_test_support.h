// Shared by the disk tests: a fresh temporary folder per test and a recording and failing wrapper
// around the operating-system table.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "file/disk_file.h"
#include "file/disk_os.h"

namespace disk_test {

namespace fs = std::filesystem;

// The backslash form of a native path, as callers of the disk layer write paths.
inline std::string Backslashed(const fs::path& path) {
  std::string text = path.string();
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
  return text;
}

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = fs::temp_directory_path() /
            ("vorn-disk-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(root_);
  }
  ~TempDir() {
    std::error_code ignored;
    // Read-only entries would keep Windows from removing them.
    for (auto& entry : fs::recursive_directory_iterator(root_, ignored)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& Root() const { return root_; }
  fs::path Native(const std::string& relative) const { return root_ / relative; }
  // Backslash path of an entry below the folder ("a/b" may be written with either separator).
  std::string Path(const std::string& relative = "") const {
    std::string text = Backslashed(root_);
    if (!relative.empty()) text += "\\" + relative;
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream out(Native(relative), std::ios::binary | std::ios::trunc);
    out << content;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Native(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path root_;
};

enum OsCall {
  kOpen,
  kRead,
  kWrite,
  kSeek,
  kSize,
  kFlush,
  kSetEnd,
  kClose,
  kRemove,
  kRename,
  kMakeDir,
  kRemoveDir,
  kFindFirst,
  kFindNext,
  kFindEnd,
  kExists,
  kFullPath,
  kSetHandleCount,
  kReplace,
  kOsCallCount
};

struct OpenArguments {
  u32 access, share, creation, hints;
};

struct FaultState {
  DiskOsTable real;
  u32 calls[kOsCallCount];
  int failCall;   // the entry that fails, -1 for none
  u32 failOnNth;  // that entry's call number that fails (1 = first); 0 = every call
  u32 error;      // the error number LastError() reports for the injected failure
  bool injected;  // the latest call was an injected failure
  OpenArguments lastOpen;
  u32 handleCount;
  u32 fullPathResult;  // when failCall is kFullPath: the value returned
};

inline FaultState faults;

inline bool ShouldFail(OsCall call) {
  ++faults.calls[call];
  faults.injected =
      faults.failCall == call && (faults.failOnNth == 0 || faults.calls[call] == faults.failOnNth);
  return faults.injected;
}

inline OsHandle FaultOpen(const char* path, u32 access, u32 share, u32 creation, u32 hints) {
  faults.lastOpen = {access, share, creation, hints};
  if (ShouldFail(kOpen)) return kInvalidOsHandle;
  return faults.real.Open(path, access, share, creation, hints);
}
inline bool FaultRead(OsHandle file, void* buffer, u32 size, u32* done) {
  if (ShouldFail(kRead)) return *done = 0, false;
  return faults.real.Read(file, buffer, size, done);
}
inline bool FaultWrite(OsHandle file, const void* buffer, u32 size, u32* done) {
  if (ShouldFail(kWrite)) return *done = 0, false;
  return faults.real.Write(file, buffer, size, done);
}
inline u32 FaultSeek(OsHandle file, i64 offset, u32 method) {
  return ShouldFail(kSeek) ? OS_SEEK_FAILED : faults.real.Seek(file, offset, method);
}
inline u32 FaultSize(OsHandle file) {
  return ShouldFail(kSize) ? 0xFFFFFFFFu : faults.real.Size(file);
}
inline bool FaultFlush(OsHandle file) { return !ShouldFail(kFlush) && faults.real.Flush(file); }
inline bool FaultSetEnd(OsHandle file) { return !ShouldFail(kSetEnd) && faults.real.SetEnd(file); }
// Closing calls go through even when they are made to fail, so nothing leaks.
inline bool FaultClose(OsHandle file) {
  bool fail = ShouldFail(kClose);
  bool closed = faults.real.Close(file);
  faults.injected = fail;
  return !fail && closed;
}
inline bool FaultRemove(const char* path) {
  return !ShouldFail(kRemove) && faults.real.Remove(path);
}
inline bool FaultRename(const char* from, const char* to) {
  return !ShouldFail(kRename) && faults.real.Rename(from, to);
}
inline bool FaultMakeDir(const char* path) {
  return !ShouldFail(kMakeDir) && faults.real.MakeDir(path);
}
inline bool FaultRemoveDir(const char* path) {
  return !ShouldFail(kRemoveDir) && faults.real.RemoveDir(path);
}
inline OsHandle FaultFindFirst(const char* pattern, void* data) {
  return ShouldFail(kFindFirst) ? kInvalidOsHandle : faults.real.FindFirst(pattern, data);
}
inline bool FaultFindNext(OsHandle search, void* data) {
  return !ShouldFail(kFindNext) && faults.real.FindNext(search, data);
}
inline bool FaultFindEnd(OsHandle search) {
  bool fail = ShouldFail(kFindEnd);
  bool ended = faults.real.FindEnd(search);
  faults.injected = fail;
  return !fail && ended;
}
inline bool FaultExists(const char* path) {
  return !ShouldFail(kExists) && faults.real.Exists(path);
}
inline u32 FaultFullPath(const char* path, u32 capacity, char* buffer) {
  return ShouldFail(kFullPath) ? faults.fullPathResult
                               : faults.real.FullPath(path, capacity, buffer);
}
inline u32 FaultSetHandleCount(u32 count) {
  ShouldFail(kSetHandleCount);
  faults.handleCount = count;
  return faults.real.SetHandleCount(count);
}
inline bool FaultReplace(const char* from, const char* to) {
  return !ShouldFail(kReplace) && faults.real.Replace(from, to);
}
inline u32 FaultLastError() { return faults.injected ? faults.error : faults.real.LastError(); }

// Installs the wrappers for its lifetime: every call is counted, and one entry can be made to
// fail with a chosen error number.
class ScopedOsFaults {
 public:
  ScopedOsFaults() {
    faults = FaultState{};
    faults.real = g_diskOs;
    faults.failCall = -1;
    g_diskOs = DiskOsTable{FaultOpen,      FaultRead,           FaultWrite,     FaultSeek,
                           FaultSize,      FaultFlush,          FaultSetEnd,    FaultClose,
                           FaultRemove,    FaultRename,         FaultMakeDir,   FaultRemoveDir,
                           FaultFindFirst, FaultFindNext,       FaultFindEnd,   FaultExists,
                           FaultFullPath,  FaultSetHandleCount, FaultLastError, FaultReplace};
  }
  ~ScopedOsFaults() { DiskOsRestore(); }
  ScopedOsFaults(const ScopedOsFaults&) = delete;
  ScopedOsFaults& operator=(const ScopedOsFaults&) = delete;

  void Fail(OsCall call, u32 error, u32 nth = 0) {
    faults.failCall = call;
    faults.error = error;
    faults.failOnNth = nth;
    faults.calls[call] = 0;
  }
  void Stop() { faults.failCall = -1; }
  u32 Calls(OsCall call) const { return faults.calls[call]; }
  u32 TotalCalls() const {
    u32 total = 0;
    for (u32 count : faults.calls) total += count;
    return total;
  }
};

inline bool RecordIsEmpty(const FindRecord& record) {
  return !record.service && !record.cursor && !record.data && !record.attributes && !record.name;
}

}  // namespace disk_test
