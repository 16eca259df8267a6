// Turning a folder tree on disk into pack members, and writing them through the pack writer.
// Only names and sizes are held in memory; file data are streamed in bounded chunks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "file/file.h"
#include "name_coding.h"
#include "os.h"
#include "source_check.h"

class Progress;

struct SourceFile {
  std::string diskPath;  // as opened through the disk service
  std::string member;    // full member name: upper case, '\' separators
  u32 size;
  // Where a coded member's bytes lie in the build's spool file (kNotSpooled: read diskPath).
  u64 spooled = kNotSpooled;
  static constexpr u64 kNotSpooled = ~0ull;
};

struct SourceSet {
  std::vector<SourceFile> files;
  u64 totalBytes = 0;
  // The file the run will write: a source with this identity is refused.
  const FileIdentity* output = nullptr;
  std::string outputName;
  bool followLinks = false;
  NameCoding names;
};

// The options of build and pack that govern the sources (--follow-links, --codepage), and their
// help lines. Reports a usage error and returns kExitUsage for a bad value.
int ReadSourceOptions(const char* command, const Args& args, SourceSet* set);
#define SOURCE_OPTIONS_HELP FOLLOW_LINKS_HELP CODEPAGE_HELP

// Adds one file under the member name `member` (normalised here). Reports and returns
// kExitFailure on anything but a file (source_check.h), a file that cannot be opened, is 4 GiB
// or larger, or is the output.
int AddSourceFile(SourceSet* set, const std::string& diskPath, const std::string& member);

// Adds every file below `diskRoot`, named `memberPrefix` + its relative path in the set's code
// page. Names a pack or the patcher cannot hold are refused; empty folders cannot be stored (a
// pack holds files only) and are reported as warnings.
int AddSourceTree(SourceSet* set, const std::string& diskRoot, const std::string& memberPrefix);

// Sorts the members into the directory's order and refuses names that the pack cannot hold
// (duplicates after upper-casing, names longer than 255 bytes) and, with a code page, names that
// a Windows folder takes for the same; the pack writer checks the rest.
int FinishSourceSet(SourceSet* set);

// Called once the directory is written, with the size the whole pack will have; returns an exit
// status (and has reported any failure).
typedef std::function<int(u32 packSize)> PackSizeHook;

// Writes the pack to `out` (from its position 0); `outName` is for messages. Spooled members
// are read from `spool`.
int WritePackFromSources(const SourceSet& set, CFile* out, const std::string& outName,
                         Progress* progress, const PackSizeHook& sized = PackSizeHook(),
                         CFile* spool = nullptr);
