// Shared by the disk tests: a fresh temporary folder per test and a counting, failing wrapper
// around the operating-system table.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "file/disk_file.h"
#include "file/disk_os.h"

namespace disk_test {

namespace fs = std::filesystem;

// The backslash form of a native path, as callers of the disk layer write paths.
inline std::string Backslashed(std::string text) {
  for (char& c : text) c = c == '/' ? '\\' : c;
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
    return Backslashed(root_.string() + (relative.empty() ? "" : "\\" + relative));
  }
  void Write(const std::string& relative, const std::string& content) const {
    std::ofstream(Native(relative), std::ios::binary | std::ios::trunc) << content;
  }
  std::string Read(const std::string& relative) const {
    std::ifstream in(Native(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path root_;
};

// The entries of the table, in its order; LastError, which the wrappers answer themselves,
// stands between SetHandleCount and Replace, which RenameOpen follows.
#define VORN_OS_CALLS(X)                                                                     \
  X(Open), X(Read), X(Write), X(Seek), X(Size), X(Flush), X(SetEnd), X(Close), X(Remove),    \
      X(Rename), X(MakeDir), X(RemoveDir), X(FindFirst), X(FindNext), X(FindEnd), X(Exists), \
      X(FullPath), X(SetHandleCount)
#define VORN_CALL_NAME(name) k##name
enum OsCall { VORN_OS_CALLS(VORN_CALL_NAME), kReplace, kRenameOpen, kOsCallCount };
#undef VORN_CALL_NAME

struct FaultState {
  DiskOsTable real;
  u32 calls[kOsCallCount];
  int failCall;   // the entry that fails at every call, -1 for none
  u32 error;      // the error number LastError() reports for the injected failure
  u64 result;     // what the failing entry returns
  bool injected;  // the latest call was an injected failure
};

inline FaultState faults;

// Every entry counts its calls and fails when told to; closing calls go through even then, so
// nothing leaks, and a failed transfer reports no bytes done.
template <int Call, auto Entry>
struct Hook;
template <int Call, typename R, typename... A, R (*DiskOsTable::*Entry)(A...)>
struct Hook<Call, Entry> {
  static R Run(A... args) {
    ++faults.calls[Call];
    const bool fail = faults.failCall == Call;
    faults.injected = false;
    R result = fail && Call != kClose && Call != kFindEnd ? static_cast<R>(faults.result)
                                                          : (faults.real.*Entry)(args...);
    if constexpr (Call == kRead || Call == kWrite) {
      if (fail) *std::get<3>(std::tie(args...)) = 0;
    }
    faults.injected = fail;
    return fail ? static_cast<R>(faults.result) : result;
  }
};

inline u32 FaultLastError() { return faults.injected ? faults.error : faults.real.LastError(); }

#define VORN_HOOK(name) Hook<k##name, &DiskOsTable::name>::Run

// Installs the wrappers for its lifetime.
class ScopedOsFaults {
 public:
  ScopedOsFaults() {
    faults = FaultState{};
    faults.real = g_diskOs;
    faults.failCall = -1;
    g_diskOs = DiskOsTable{VORN_OS_CALLS(VORN_HOOK), FaultLastError, VORN_HOOK(Replace),
                           VORN_HOOK(RenameOpen)};
  }
  ~ScopedOsFaults() { DiskOsRestore(); }
  ScopedOsFaults(const ScopedOsFaults&) = delete;
  ScopedOsFaults& operator=(const ScopedOsFaults&) = delete;

  // The entry fails at every call from now with this error number; the value it returns is its
  // failure value unless one is given.
  void Fail(OsCall call, u32 error, u64 result = ~u64{0}) {
    faults.failCall = call;
    faults.error = error;
    const bool handleOrCount =
        call == kOpen || call == kFindFirst || call == kSeek || call == kSize || call == kFullPath;
    faults.result = handleOrCount ? result : 0;
  }
  u32 Calls(OsCall call) const { return faults.calls[call]; }
  u32 TotalCalls() const {
    u32 total = 0;
    for (u32 count : faults.calls) total += count;
    return total;
  }
};

#undef VORN_HOOK
#undef VORN_OS_CALLS

inline bool RecordIsEmpty(const FindRecord& record) {
  return !record.service && !record.cursor && !record.data && !record.attributes && !record.name;
}

}  // namespace disk_test
