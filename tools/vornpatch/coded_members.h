// Coded members of a patch's pack, beside the whole copies under FILES\:
//   CODED\<path>   one Tarn stream whose output is the file FILES\<path>: coded alone (no
//                  dictionary) or a delta against the installed <path> (the dictionary);
//   SOLID\<nnnn>   one Tarn stream without dictionary whose output is a table (u32 count; per
//                  file u32 size, u32 CRC-32, u16 name length, the name relative to FILES\) and
//                  then the files' bytes back to back, at most kSolidMaxOutput bytes in all.
// A path appears once at most over the three roots. docs/FORMAT.md, "Coded members".
#pragma once

#include <map>
#include <string>
#include <vector>

#include "archive/tarn_decode.h"
#include "file/file_service.h"
#include "name_coding.h"

constexpr char kFilesRoot[] = "FILES\\";
constexpr char kCodedRoot[] = "CODED\\";
constexpr char kSolidRoot[] = "SOLID\\";
constexpr u32 kSolidMaxOutput = 64u << 20;
constexpr u32 kSolidMaxTable = 8u << 20;    // the patcher holds the table whole
constexpr u32 kSolidFileLimit = 16u << 20;  // build groups the files below it
constexpr u32 kSolidMaxGroups = 9999;       // four decimal digits
constexpr u32 kSolidCountBytes = 4;         // the table's file count
constexpr u32 kSolidEntryHead = 10;         // each entry's size, CRC-32 and name length
// The patcher's decoder holds min(window, output): at most 16 MiB for a CODED member, and for a
// group, whose far copies pay (kin files lie megabytes apart), its output: at most 64 MiB.
constexpr u8 kCodedMaxWindowLog = 24;
constexpr u8 kSolidMaxWindowLog = 26;

enum class MemberRoot { kOther, kFiles, kCoded, kSolid };

// The root of a full member name; *path receives the rest (relative to the root).
MemberRoot RootOf(const std::string& member, std::string* path);
// "SOLID\0001" for group 1.
std::string SolidMemberName(u32 group);

struct SolidEntry {
  std::string name;  // relative to FILES\, as the pack would store it
  u32 size;
  u32 crc;
  u32 offset;  // of its bytes in the group's output
};

// The low `bytes` bytes of value, least significant first.
void AppendLittleEndian(std::vector<u8>* out, u32 value, u32 bytes);
void AppendSolidEntry(std::vector<u8>* table, const std::string& name, u32 size, u32 crc);
// Reads the table of a group's output and holds every file to its CRC-32; "" or the fault.
std::string ParseSolidOutput(const std::vector<u8>& output, std::vector<SolidEntry>* entries);

// A file that keeps what is written to it in memory, up to a limit (a longer write fails).
class MemorySink : public CFile {
 public:
  explicit MemorySink(u32 limit) : CFile(nullptr, 0), limit_(limit) { isOpen = 1; }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  std::vector<u8> bytes;

 private:
  u32 limit_;
};

struct CodedMember {
  std::string member;  // CODED\<path>
  std::string path;    // relative to FILES\ (the file it gives)
  TarnHeader header;
};

struct SolidGroup {
  std::string member;  // SOLID\<nnnn>
  u32 codedSize;
  std::vector<SolidEntry> entries;
};

// The installed game folder that deltas are coded against: its files by the names a pack
// stores them under (relative to FILES\, upper case, the code page of --codepage).
class BaseTree {
 public:
  // Reports and returns kExitFailure when the folder cannot be listed.
  int Index(const std::string& root, const NameCoding& names);
  // The disk path of the installed file `path`, or null.
  const std::string* Find(const std::string& path) const;
  const std::map<std::string, std::string>& Files() const { return files_; }

 private:
  std::map<std::string, std::string> files_;
};

// The members of a patch's pack beyond their bytes: each coded member's header and each solid
// group's table (the group decoded, its output and file CRCs checked). Scan refuses unsafe
// names, a path given twice over the three roots, malformed headers, and solid groups that
// break their limits; it returns "" or the fault. With a base, a delta whose source is missing
// or of another size or CRC-32 is a fault too.
class PatchMembers {
 public:
  std::string Scan(CFileService* service, const BaseTree* base);
  const CodedMember* Coded(const std::string& member) const;
  const SolidGroup* Solid(const std::string& member) const;
  const CodedMember* FirstDelta() const;
  const std::vector<CodedMember>& Files() const { return coded_; }
  const std::vector<SolidGroup>& Groups() const { return solid_; }

 private:
  std::string AddCoded(CFileService* service, const std::string& member, const std::string& path,
                       const BaseTree* base);
  std::string AddSolid(CFileService* service, const std::string& member);
  std::string Claim(const std::string& path, const std::string& member);

  std::vector<CodedMember> coded_;
  std::vector<SolidGroup> solid_;
  std::map<std::string, std::string> owners_;  // path -> the member that gives it
};

struct Args;
// The installed game of a command's --base option, indexed into *tree; *base points at it, or
// stays null without the option. Returns an exit status (usage error: an empty folder name).
int IndexBaseOption(const char* command, const Args& args, const NameCoding& names, BaseTree* tree,
                    const BaseTree** base);

// The source a delta needs, opened and held to the header's size and CRC-32; null and *fault
// set when it is missing or differs.
CFile* OpenDeltaSource(const BaseTree& base, const CodedMember& coded, std::string* fault);

// Decodes a coded member into out (the source opened with OpenDeltaSource for a delta).
ErrorCode DecodeCodedMember(CFileService* service, const CodedMember& coded, CFile* source,
                            CFile* out);
// Decodes a solid group whole into memory and parses its table; "" or the fault.
std::string DecodeSolidGroup(CFileService* service, const std::string& member,
                             std::vector<u8>* output, std::vector<SolidEntry>* entries);
