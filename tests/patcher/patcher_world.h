// The world a patcher run sees natively: files on a simulated disk (support/sim_disk.h) that
// hold the game and a real patch file, and a scripted platform table around it that keeps the
// registry, answers the message boxes from a script and records what the program shows, links
// and starts. The process exit becomes an exception that Run catches.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/file.h"
#include "patcher/new_file.h"
#include "support/pack_builder.h"
#include "support/sim_disk.h"

inline const std::string kGame = "C:\\Games\\Vorn\\";
inline const std::string kMenu = "C:\\Menu\\Programs";
inline const std::string kPatch = "C:\\Patch\\patch.exe";

struct World {
  SimDisk::Image image;            // the disk before the run; the patch file is added by Run
  std::string ini;                 // Patch.ini of the patch
  PackMembers members;             // the members below FILES besides Patch.ini ("Files/..." names)
  PackMembers decoded;             // the new files the CODED and SOLID members make (same names)
  std::string patchBytes;          // when set, the patch file as it stands (no payload is built)
  std::string answers;             // one letter per box: y n o r i a; past its end Yes or OK
  std::vector<std::string> boxes;  // "<kind>:<text>", kind Q Y O E A by the box type
  std::vector<std::string> effects;  // "link <path> -> <target>", "start <command line>"
  bool keyExists = true, gameRunning = false;
  int openKeys = 0;                            // registry keys opened and not closed
  std::map<std::string, std::string> strings;  // registry texts of the game key
  std::map<std::string, u32> dwords;
  std::string commandLine = "\"" + kPatch + "\" ";
  std::string moduleName = kPatch;
  u32 (*setDword)(const char* name, u32 value) = nullptr;  // replaces the registry write
  SimDisk::Fault fault = SimDisk::Fault::kNone;            // armed after loading (sim_disk.h)
  u32 faultAt = 0;
  std::string faultPath;
  std::string heldOpen;  // a file another program holds open through the run
  bool titled = true;    // every box but the copy question carries the title of the texts
  void (*onBox)(u32 type) = nullptr;  // called at each box before its answer
};

// The game installed at kGame (version 1.00, English, an old read-only README.TXT), the shipped
// texts, and a tree of four members, one of three payload blocks.
World DefaultWorld();
extern const std::string kShippedIni;
std::string Container(const std::string& content);  // an LZSS container of 32768-byte blocks
// The world's pack (its members and Patch.ini) as bytes, and an image followed by the pack as a
// payload, sealed (the seal record and the container's mark, as the tool writes them) or not.
std::vector<u8> WorldPack(const World& world);
std::string PatchOfPack(const std::vector<u8>& pack, bool sealed = false);

// Adds the group SOLID\<group> of these files ("Files/..." names) to the world's patch, the
// last one's CRC-32 in the table xor crcFlip.
void AddSolid(World& world, const std::string& group, const PackMembers& files, u32 crcFlip = 0);
// The old (or new) RULES.DAT, and the world's patch with coded members besides its FILES: a
// delta of RULES.DAT, a new file coded alone in a folder of its own, and the group 0001 of three
// (NOTES.TXT over an old one; SOUNDS\EMPTY.WAV, empty; SOUNDS\HIT.WAV).
std::string Rules(bool fresh);
void AddCodedMembers(World& world);

// Each new file of the world in `after` is its old version (as in `before`) or its new one, and
// nothing else changed (the patch file and folders made for new files aside); after a stop a
// temporary may be left, and an old target may have lost its read-only attribute. Only a file
// that replaces another is flushed: after a power cut a file that was not there before is
// missing or there without its bytes, and counts as new. Returns the targets not new
// ("A\\B.TXT," each).
std::string OldTargets(const World& world, SimDisk::Image before, SimDisk::Image after,
                       bool afterStop, bool powerCut = false);
// Runs the patcher on `disk` loaded with the world; the exit code. Afterwards the world's boxes
// and effects are filled and its registry holds what the run wrote.
int RunPatch(World& world, SimDisk& disk);
// Runs the copy worker alone over `pack` (owned from here on) mounted as the payload's pack,
// without the whole-pack check of a real run, so that the walk itself meets damaged
// directories; the disk holds the world's image. Returns CopyIncomplete.
int RunCopy(World& world, SimDisk& disk, CFile* pack);
extern World* g_world;
extern SimDisk* g_disk;
