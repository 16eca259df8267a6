// Depth-first walks over the directories of a file service (the disk, a pack, an HPFS store),
// through FindFirst/FindNext/FindClose, one directory open per level.
#pragma once

#include <functional>
#include <string>

#include "file/file_service.h"

// Separator of the paths the tool builds for the disk service; packs and stores use '\'.
#ifdef _WIN32
constexpr char kDiskSeparator = '\\';
#else
constexpr char kDiskSeparator = '/';
#endif

std::string JoinPath(const std::string& directory, const std::string& name, char separator);
// The folder part (without the separator; "" at the top) and the last component of a
// '\'-separated relative path.
void SplitPath(const std::string& relative, std::string* folder, std::string* name);

struct WalkEntry {
  std::string name;      // the entry's own name, as the service lists it
  std::string relative;  // from the walk's root, components joined with '\'
  std::string full;      // as the service names it: root joined with relative
  u32 attributes;
  bool IsDirectory() const { return (attributes & ATTR_DIRECTORY) != 0; }
};

// The visitor returns 0 to go on, anything else to stop the walk with that value.
typedef std::function<int(const WalkEntry& entry)> WalkVisitor;

struct WalkResult {
  int stopped = 0;              // the visitor's nonzero value, if it stopped the walk
  ErrorCode error = nullptr;    // a listing that failed other than by ending
  std::string failedDirectory;  // where it failed
};

// Visits every entry under `root`; a directory is visited before its contents, and entered
// unless the visitor stops. `separator` joins the service's own paths.
WalkResult WalkTree(CFileService* service, const std::string& root, char separator,
                    const WalkVisitor& visit);
