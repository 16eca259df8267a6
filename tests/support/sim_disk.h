// A disk in memory behind the disk-os table, for crash tests. It keeps apart what a file system
// has made durable and what it only holds in its caches:
//   - contents: Write changes the cached copy of a file, Flush makes that copy durable;
//   - names (creating, deleting, folders): cached until a Replace, which is written through and,
//     like the commit of a journal, makes every earlier change of names durable with it.
// So it can show the two things a stop can leave: what a killed process leaves (everything the
// system accepted) and what survives a power cut (flushed contents under committed names).
// Attributes are durable at once. Paths compare exactly (no case folding); share modes are not
// kept, but a file with an open handle cannot be replaced, as on Windows.
//
// One fault can be armed, counted from the Nth call of its kind:
//   kStop       every call (the callers' own platform calls too, through Step): that call and
//               every later one fail with NOT_READY and change nothing, as if the power went;
//   kDiskFull   the Nth Write stores half its bytes and fails with DISK_FULL;
//   kReadError  the Nth Read of the file named by `path` fails with a device error.
// RunWithDiskFaults walks N = 1, 2, ... like RunWithAllocationFailures.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "file/disk_os.h"

class SimDisk {
 public:
  struct Node {
    bool folder = false;
    bool readOnly = false;
    std::string bytes;
    bool operator==(const Node& other) const {
      return folder == other.folder && readOnly == other.readOnly && bytes == other.bytes;
    }
  };
  // Path -> entry, as the disk shows after a restart.
  using Image = std::map<std::string, Node>;
  enum class Fault { kNone, kStop, kDiskFull, kReadError };

  SimDisk();  // empty; serves g_diskOs until destroyed
  ~SimDisk();
  SimDisk(const SimDisk&) = delete;
  SimDisk& operator=(const SimDisk&) = delete;

  // A restart with this content, all of it durable; disarms the fault (Injected still tells
  // whether it was reached).
  void Load(const Image& image);
  Image Killed() const;
  Image PowerCut() const;

  void Arm(Fault fault, u32 at, const std::string& path = "");
  bool Injected() const { return injected_; }
  bool Stopped() const { return stopped_; }
  // Counts one call of the caller's own; false once the disk has stopped.
  bool Step();
  // For the patcher's platform calls: GetFileAttributes and SetFileAttributes.
  u32 Attributes(const std::string& path);
  bool SetAttributes(const std::string& path, u32 attributes);
  size_t OpenHandles() const { return handles_.size(); }

  // The backend's entries (the table calls these through the one disk in use).
  OsHandle Open(const char* path, u32 access, u32 creation);
  bool Read(OsHandle file, void* buffer, u32 size, u32* done);
  bool Write(OsHandle file, const void* buffer, u32 size, u32* done);
  u32 Seek(OsHandle file, i32 offset, u32 method);
  u32 Size(OsHandle file);
  bool Flush(OsHandle file);
  bool Close(OsHandle file);
  bool Remove(const char* path);
  bool MakeDir(const char* path);
  bool Exists(const char* path);
  bool Replace(const char* from, const char* to);
  bool Fail(u32 error);
  u32 lastError = 0;

 private:
  struct Inode {
    bool folder = false;
    bool readOnly = false;
    std::string cached, durable;
  };
  struct Handle {
    int inode;
    u32 position;
    bool reads;  // counted for kReadError
  };
  Inode* Find(const std::string& path);
  bool ParentExists(const std::string& path) const;
  bool InUse(int inode) const;
  Handle* HandleOf(OsHandle file);
  bool Counts(Fault kind);
  Image Picture(const std::map<std::string, int>& names, bool durable) const;

  std::map<int, Inode> inodes_;
  std::map<std::string, int> names_, committed_;
  std::map<OsHandle, Handle> handles_;
  int nextInode_ = 1;
  OsHandle nextHandle_ = 100;
  Fault fault_ = Fault::kNone;
  u32 at_ = 0, counted_ = 0;
  std::string faultPath_;
  bool injected_ = false, stopped_ = false;
};

// Runs fn(disk, N) for N = 1, 2, ... on a fresh disk; fn loads its content and arms the fault
// at N. Stops after the first run in which the fault was not reached, or the first run that
// failed the test, and returns the number of runs, the clean one included.
u32 RunWithDiskFaults(const std::function<void(SimDisk& disk, u32 at)>& fn, u32 maxRuns = 100000);
