// The folder `extract` writes into. Below its root nothing is followed that extract did not make
// itself: a symbolic link (on Windows any reparse point) found where a folder or file is to go
// is refused with its path, never followed and never replaced. Every file is written whole or
// not at all: to NAME.vp~ beside it first (kReplacementSuffix, which the patcher's staging
// folder ends in too; one left by a killed run is replaced), then renamed over NAME; after a
// failure the temporary goes and an existing NAME stays as it was. When NAME exists, the
// temporary is flushed to the disk before the rename, so that not even a crash of the machine
// can leave a torn file where a good one was. A new NAME is not flushed: at worst a crash
// leaves it short, and it holds nothing the user had, while a flush per file made extracting
// 6000 new files five times slower (32 s against 6.7 s on the test machine).
//
// POSIX: folders and files are opened relative to the opened folder above them (openat,
// mkdirat, renameat, O_NOFOLLOW), so a link planted anywhere below the root, also while extract
// runs, cannot redirect a write. Windows: each path below the root is looked at for reparse
// points before it is used, which leaves a race with a concurrent writer (creating links there
// takes a privilege).
//
// Every method that fails reports the path and the reason and returns kExitFailure.
#pragma once

#include <string>

#include "file/file.h"

class OutputTree {
 public:
  OutputTree();
  ~OutputTree();  // abandons a file still being written

  // Opens the root folder, creating it (its last component) when missing. The root is the
  // user's choice, so it may be reached through links.
  int Open(const std::string& root);
  // Creates the folder `relative` ('\'-separated components below the root) unless it exists;
  // its parent must exist.
  int MakeFolder(const std::string& relative);
  // Starts writing the file `relative`; *file receives the temporary to write to (owned here).
  int BeginFile(const std::string& relative, CFile** file);
  // Closes the temporary (flushed first when it replaces a file) and renames it over the file's
  // name.
  int CommitFile();
  // Closes and removes the temporary.
  void AbandonFile();

  // The path of `relative` as the user would write it, for messages.
  std::string DiskPath(const std::string& relative) const;

  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;

 private:
  struct State;  // the platform's handles
  State* state_;
};
