// A disk in memory behind the disk-os table, for crash tests. It keeps apart what a file system
// has made durable and what it only holds in its caches:
//   - contents: Write changes the cached copy of a file, Flush makes that copy durable;
//   - names (creating, deleting, renaming, folders): cached until a Replace, which is written
//     through and, like the commit of a journal, makes every earlier change of names durable.
// So it shows the two things a stop can leave: what a killed process leaves (everything the
// system accepted) and what survives a power cut (flushed contents under committed names).
// Attributes are durable at once. Paths compare exactly (no case folding); share modes are not
// kept, but a file with an open handle cannot be replaced, as on Windows.
//
// One fault can be armed, counted from the Nth call of its kind:
//   kStop       every call (the caller's own platform calls too, through Step): that call and
//               every later one fail with NOT_READY and change nothing, as if the power went;
//   kDiskFull   the Nth Write stores half its bytes and fails with DISK_FULL;
//   kReadError  the Nth Read of the file at `path` fails with a device error.
#pragma once

#include <map>
#include <memory>
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
  using Image = std::map<std::string, Node>;  // path -> entry, as a restart shows it
  enum class Fault { kNone, kStop, kDiskFull, kReadError };
  struct State;

  SimDisk();  // empty; serves g_diskOs until destroyed
  ~SimDisk();
  SimDisk(const SimDisk&) = delete;
  SimDisk& operator=(const SimDisk&) = delete;

  // A restart with this content, all of it durable. Disarms the fault; Injected still tells
  // whether it was reached.
  void Load(const Image& image);
  Image Killed() const;
  Image PowerCut() const;

  void Arm(Fault fault, u32 at, const std::string& path = "");
  // The files together hold at most this many bytes: a Write past it stores what fits and
  // fails with DISK_FULL, as a small disk would.
  void LimitSize(size_t bytes);
  bool Injected() const;
  bool Stopped() const;
  // Counts one call of the caller's own; false once the disk has stopped.
  bool Step();
  // GetFileAttributes and SetFileAttributes, for the patcher's platform table.
  u32 Attributes(const std::string& path);
  bool SetAttributes(const std::string& path, u32 attributes);
  bool Exists(const std::string& path);
  size_t OpenHandles() const;

 private:
  std::unique_ptr<State> state_;
};
