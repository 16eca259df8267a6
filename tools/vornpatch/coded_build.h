// build's choice of how each file of the Files tree travels: left out (equal to the installed
// file), a delta against the installed file, coded alone, in a solid group of small files, or
// copied whole. Coded bytes go to a spool file, one member after another, so that the pack
// writer, which needs every member's size first, can copy them; the coder holds one file (or
// one pair of old and new file, or one group) in memory at a time.
#pragma once

#include <string>

#include "coded_members.h"
#include "pack_build.h"

struct CodedBuildOptions {
  bool tarn = true;                // code with the Tarn codec (--codec tarn); else deltas only
  bool fast = false;               // a cheaper parse (--fast)
  const BaseTree* base = nullptr;  // the installed game (--base), for deltas
};

struct CodedBuildFigures {
  u64 unchanged = 0, deltas = 0, alone = 0, solidGroups = 0, solidFiles = 0, whole = 0;
};

// Replaces the FILES\ members of set by the members chosen for them, their coded bytes appended
// to spool (the member's SourceFile then names its offset there). Reports and returns an exit
// status.
int PlanCodedMembers(SourceSet* set, const CodedBuildOptions& options, CFile* spool,
                     const std::string& spoolName, CodedBuildFigures* figures);
