// What build and pack take from a source tree: regular files and folders, looked at before they
// are opened (a named pipe would block the open, a link would pack what lies outside the tree).
// Links are refused unless they are followed; a followed link that leads back into a folder it
// lies in is refused as a loop.
#pragma once

#include <string>
#include <vector>

#include "os.h"

// The --follow-links option's line for a command's help.
#define FOLLOW_LINKS_HELP \
  "  --follow-links      pack what symbolic links in the source lead to (refused otherwise)\n"

// Reports and returns kExitFailure unless `path` is a file (or, with `folder`, a folder), with
// links refused or (follow) followed. `identity` receives what it names when following.
int CheckSourceEntry(const std::string& path, bool folder, bool follow,
                     FileIdentity* identity = nullptr);

// Reports and returns kExitFailure when `path` leads to a named pipe, socket or device: such a
// file has no size, so it would be read as empty (and a pipe's open would wait for a writer).
int RefuseSpecialFile(const std::string& path);

// The folders a depth-first walk is inside, to catch a followed link that leads back to one.
class FolderTrail {
 public:
  FolderTrail(const std::string& root, const FileIdentity& rootIdentity);
  // Enters the folder `full` at `relative` ('\' separators) below the root: reports and returns
  // kExitFailure when it is one of the folders that hold it.
  int Enter(const std::string& relative, const std::string& full, const FileIdentity& identity);

 private:
  struct Level {
    std::string relative;
    std::string full;
    FileIdentity identity;
  };
  std::vector<Level> levels_;
};
