// A solid group: small files coded as one Tarn stream, whose output is a table (u32 count; per
// file u32 size, u32 CRC-32, u16 name length and the name, relative to the game folder) and then
// the files' bytes in table order, all little-endian.
//
// The group is decoded whole into memory, where its stream needs its whole output as window
// anyway, and the table and every file's CRC-32 are checked before the first file is written: a
// damaged group changes nothing. Each file then goes to its temporary in one write and is put in
// place while still open.
#include <cstring>

#include "archive/tarn_decode.h"
#include "core/byte_order.h"
#include "core/crc32.h"
#include "core/pools.h"
#include "file/file_service.h"
#include "patcher/new_file.h"

namespace {

constexpr u32 kEntryHead = 10;        // size, CRC-32, name length
constexpr u32 kFirstEntry = 4;        // behind the count
constexpr u32 kMaxTable = 1u << 23;   // what the tool puts into one group's table at most
constexpr u32 kMaxOutput = 1u << 26;  // and into one group's output
constexpr u32 kNoFile = 0xFFFFFFFFu;

const char* Relative(const NewFile& file) { return file.target + std::strlen(InstallPath); }

struct Group {
  u8* bytes = nullptr;  // the stream's output
  u32 size = 0;
  u32 count = 0;
  u32 tableEnd = 0;

  ~Group() { g_ptrPool->Free(bytes); }
  u32 NameLength(u32 entry) const { return bytes[entry + 8] | bytes[entry + 9] << 8; }
  u32 FileSize(u32 entry) const { return LoadLittleEndian32(bytes + entry); }
  u32 Next(u32 entry) const { return entry + kEntryHead + NameLength(entry); }
  bool Name(u32 entry, NewFile* file) const {
    char name[kPathSize];
    const u32 length = NameLength(entry);
    std::memcpy(name, bytes + entry + kEntryHead, length);  // < kPathSize, checked before
    name[length] = '\0';
    return std::strlen(name) == length && NameNewFile(name, file);
  }
};

ErrorCode Decode(const char* groupPath, Group* group) {
  ErrorCode error = nullptr;
  CFile* source = FileServiceTable.Open(groupPath, OPEN_READ, &error);
  const u32 size = source ? source->GetSize() : 0;
  TarnHeader header;
  if (source) error = TarnReadFileHeader(source, 0, size, &header);
  if (source && !error && header.outputSize > kMaxOutput) error = ERR_INVALIDFORMAT;
  if (source && !error) {
    group->size = header.outputSize;
    group->bytes = static_cast<u8*>(g_ptrPool->Alloc(group->size ? group->size : 1));
    error = group->bytes ? TarnDecodeFileInto(source, 0, size, group->bytes, group->size)
                         : ERR_NOTENOUGHMEM;
  }
  if (!source) return ERR_OPENFAIL;
  delete source;
  return error;
}

// The table: every entry whole and named soundly, the sizes adding up to the bytes after it.
bool CheckTable(Group* group) {
  if (group->size < kFirstEntry) return false;
  group->count = LoadLittleEndian32(group->bytes);
  u32 entry = kFirstEntry;
  u64 files = 0;
  NewFile file;
  for (u32 i = 0; i < group->count; ++i, entry = group->Next(entry)) {
    if (entry > kMaxTable || group->size - entry < kEntryHead) return false;
    const u32 length = group->NameLength(entry);
    if (length == 0 || length >= kPathSize || group->size - entry - kEntryHead < length) {
      return false;
    }
    if (!group->Name(entry, &file)) return false;
    files += group->FileSize(entry);
  }
  group->tableEnd = entry;
  return entry <= kMaxTable && files == group->size - entry;
}

// The first file whose bytes differ from their CRC-32, or kNoFile.
u32 FirstDamaged(const Group& group) {
  u32 at = group.tableEnd;
  for (u32 i = 0, entry = kFirstEntry; i < group.count; ++i, entry = group.Next(entry)) {
    const u32 size = group.FileSize(entry);
    if (Crc32Update(0, group.bytes + at, size) != LoadLittleEndian32(group.bytes + entry + 4)) {
      return i;
    }
    at += size;
  }
  return kNoFile;
}

// Makes the folders on the way to a file of the group, as the walk does for the FILES tree. The
// table lists files by kind and extension, then by path, so most files share the folder of the
// file before (madeFolder): that one is made already, and making it again costs a system call
// for each level.
void MakeFoldersOf(const NewFile& file, char* madeFolder) {
  char folder[kPathSize];
  std::strcpy(folder, Relative(file));
  char* name = std::strrchr(folder, '\\');
  if (!name) return;
  *name = '\0';
  if (std::strcmp(folder, madeFolder) == 0) return;
  for (char* p = folder; *p; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    MakeFolder(folder);
    *p = '\\';
  }
  MakeFolder(folder);
  std::strcpy(madeFolder, folder);
}

bool WriteGroupFile(const NewFile& file, const u8* bytes, u32 size) {
  CFile* written = OpenTemporary(file);
  u32 done = 0;
  const bool complete = written && (!size || (!written->Write(bytes, size, &done) && done == size));
  return FinishNewFile(file, written, complete);
}

// Writes every file of a checked group; one that cannot be written gets the copy question
// (Retry writes it again, Ignore goes on without it).
void PutGroupInPlace(const Group& group) {
  char madeFolder[kPathSize] = "";
  const u8* bytes = group.bytes + group.tableEnd;
  for (u32 i = 0, entry = kFirstEntry; i < group.count; ++i, entry = group.Next(entry)) {
    NewFile file;
    group.Name(entry, &file);
    MakeFoldersOf(file, madeFolder);
    const u32 size = group.FileSize(entry);
    while (!WriteGroupFile(file, bytes, size)) {
      const int answer = AskCopyQuestion(Relative(file));
      if (answer == ANSWER_ABORT) AbortCopy();
      if (answer != ANSWER_RETRY) break;
    }
    bytes += size;
  }
}

}  // namespace

u32 ApplySolidGroup(const char* groupPath) {
  for (;;) {
    Group group;
    const bool sound = !Decode(groupPath, &group) && CheckTable(&group);
    const u32 damaged = sound ? FirstDamaged(group) : kNoFile;
    if (sound && damaged == kNoFile) {
      PutGroupInPlace(group);
      return 1;
    }
    // The question names the damaged file, or without a sound table the group ("SOLID\0001").
    u32 entry = kFirstEntry;
    for (u32 i = 0; i < damaged && sound; ++i) entry = group.Next(entry);
    NewFile file;
    const int answer = AskCopyQuestion(
        sound && group.Name(entry, &file) ? Relative(file) : groupPath + sizeof "DATA");
    if (answer == ANSWER_ABORT) AbortCopy();
    if (answer != ANSWER_RETRY) return 1;
  }
}
