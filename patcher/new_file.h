// How the copy worker writes a game file: the new bytes go to a temporary in the staging folder
// (a stale one left by a stopped run is removed), which takes the target's place in one step,
// so a failure or a crash at any point leaves the target as it was. The staging folder is
// kStagingFolder in the game folder, which holds the one temporary a folder down: under Wine
// each name made reads its whole folder, and a game folder may hold thousands of files, so a
// temporary beside its target would cost a second read of that folder for every file. The tool
// refuses member names ending in .vp~, so no file of a patch lies in it. When it replaces a
// file, the temporary is flushed first: a power cut must not trade the player's file for one
// whose bytes never reached the disk. A new file is not flushed (under Wine the flush is an
// fsync per file and most of the apply time): a power cut can only lose or cut that file, the
// game had nothing there to lose, and the version is recorded after every file, so running the
// same patch again writes it whole. Shared by the whole-file copy, the coded members and the
// solid groups.
#pragma once

#include "patcher/patcher_state.h"

inline constexpr char kStagingFolder[] = "vornpatch.vp~";

struct NewFile {
  char target[kPathSize];
  char temporary[kPathSize];
};

// The part of a pack path below "DATA\Files" or "DATA\CODED" ("" for the root itself); null
// when the path lies below neither.
const char* RelativeMemberPath(const char* packPath);
// Names the target and the temporary for a path relative to the game folder; false when the
// path is not a safe one or the names do not fit.
bool NameNewFile(const char* relative, NewFile* file);
// Creates the temporary anew (a stale one goes first), making its folders when they are missing;
// null on failure.
CFile* OpenTemporary(const NewFile& file);
// Closes the temporary and, when complete, puts it in place; a temporary that does not make it
// is removed. True once the new file is in place.
bool FinishNewFile(const NewFile& file, CFile* written, bool complete);
// Makes the folder at this path relative to the game folder (below a folder that exists).
void MakeFolder(const char* relative);
// Removes the staging folder with everything in it (what a stopped run left included).
void RemoveStagingFolder();
// Removes the staging folder and ends the run with "errnotcomplete".
[[noreturn]] void AbortCopy();

// The copy question ("errcopy") for a file that could not be written, by its relative path;
// Ignore marks the copy incomplete. Returns the answer; the caller ends the run on Abort.
int AskCopyQuestion(const char* name);

// The actions of the walk over the coded roots, for one member each (a pack path); nonzero
// when done. A solid group asks its own questions and always counts as done.
u32 ApplyCodedFile(const char* source);
u32 ApplySolidGroup(const char* source);
