// A solid group: small files coded as one Tarn stream, whose output is a table (u32 count; per
// file u32 size, u32 CRC-32, u16 name length and the name, relative to the game folder) and then
// the files' bytes in table order, all little-endian.
#include <cstring>

#include "archive/tarn_decode.h"
#include "core/byte_order.h"
#include "core/crc32.h"
#include "core/pools.h"
#include "file/file_service.h"
#include "patcher/new_file.h"

namespace {

constexpr u32 kEntryHead = 10;       // size, CRC-32, name length
constexpr u32 kFirstEntry = 4;       // behind the count
constexpr u32 kMaxTable = 1u << 23;  // what the tool puts into one group's table at most
constexpr u32 kNoFile = 0xFFFFFFFFu;

u32 Min(u32 a, u32 b) { return a < b ? a : b; }

const char* Relative(const NewFile& file) { return file.target + std::strlen(InstallPath); }

// The stream's output: the table, kept whole, then each file's bytes into that file's temporary
// as they come, its CRC-32 checked at its end; one file is open at a time. Entries are reached
// by their offset in the table.
class SolidOutput : public CFile {
 public:
  SolidOutput() : CFile(nullptr, 0) {}
  ~SolidOutput() override {
    delete written_;
    g_ptrPool->Free(table_);
  }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;

  // The table and every file arrived whole.
  bool Complete() const { return tableRead_ && file_ == count_; }
  u32 Count() const { return count_; }
  u32 Next(u32 offset) const { return offset + kEntryHead + NameLength(offset); }
  // Names entry `index` at offset; its temporary is the staging folder's slot of that number.
  bool Name(u32 offset, u32 index, NewFile* file) const;
  // Names the file a failure was met in, else the first one; false before any entry arrived.
  bool FailedFile(NewFile* file) const;
  // After a failure: closes the file being written and removes every temporary made, so that
  // the question finds the disk as it was.
  void RemoveAll();

 private:
  u32 NameLength(u32 offset) const { return table_[offset + 8] | table_[offset + 9] << 8; }
  void MakeFoldersOf(const NewFile& file);
  ErrorCode Grow();
  ErrorCode TablePiece();
  ErrorCode Settle();
  ErrorCode Fail(ErrorCode error) {
    failed_ = file_;
    return error;
  }

  u8* table_ = nullptr;
  u32 capacity_ = 0, have_ = 0, need_ = kFirstEntry;
  u32 count_ = 0, entries_ = 0, parsedTo_ = 0;
  bool tableRead_ = false;
  u32 file_ = 0, entry_ = kFirstEntry, left_ = 0, crc_ = 0;  // the file being written
  CFile* written_ = nullptr;
  u32 failed_ = kNoFile;
  char madeFolder_[kPathSize] = "";  // of the file before, relative to the game folder
};

// Makes the folders on the way to a file of the group, as the walk does for the FILES tree. The
// table lists files by kind and extension, then by path, so most files share the folder of the
// file before: that one is made already, and making it again costs a system call for each level.
void SolidOutput::MakeFoldersOf(const NewFile& file) {
  char folder[kPathSize];
  std::strcpy(folder, Relative(file));
  char* name = std::strrchr(folder, '\\');
  if (!name) return;
  *name = '\0';
  if (std::strcmp(folder, madeFolder_) == 0) return;
  for (char* p = folder; *p; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    MakeFolder(folder);
    *p = '\\';
  }
  MakeFolder(folder);
  std::strcpy(madeFolder_, folder);
}

bool SolidOutput::Name(u32 offset, u32 index, NewFile* file) const {
  char name[kPathSize];
  const u32 length = NameLength(offset);
  std::memcpy(name, table_ + offset + kEntryHead, length);  // < kPathSize, checked on arrival
  name[length] = '\0';
  return std::strlen(name) == length && NameNewFile(name, index, file);
}

bool SolidOutput::FailedFile(NewFile* file) const {
  const u32 index = failed_ != kNoFile && failed_ < entries_ ? failed_ : 0;
  if (index >= entries_) return false;
  u32 offset = kFirstEntry;
  for (u32 i = 0; i < index; ++i) offset = Next(offset);
  return Name(offset, index, file);
}

void SolidOutput::RemoveAll() {
  delete written_;
  written_ = nullptr;
  const u32 made = tableRead_ ? Min(file_ + 1, count_) : 0;
  NewFile file;
  for (u32 i = 0, offset = kFirstEntry; i < made; ++i, offset = Next(offset)) {
    if (Name(offset, i, &file)) FileServiceTable.Delete(file.temporary);
  }
}

ErrorCode SolidOutput::Grow() {
  if (need_ <= capacity_) return nullptr;
  if (need_ > kMaxTable) return ERR_INVALIDFORMAT;
  const u32 capacity = need_ + need_ / 2 + 256;
  void* grown = table_ ? g_ptrPool->Realloc(table_, capacity) : g_ptrPool->Alloc(capacity);
  if (!grown) return ERR_NOTENOUGHMEM;
  table_ = static_cast<u8*>(grown);
  capacity_ = capacity;
  return nullptr;
}

// The table has the bytes it needed so far: the count, an entry's head or an entry's name.
ErrorCode SolidOutput::TablePiece() {
  if (parsedTo_ == 0) {
    count_ = LoadLittleEndian32(table_);
    parsedTo_ = kFirstEntry;
  } else if (have_ == parsedTo_ + kEntryHead) {
    const u32 length = NameLength(parsedTo_);
    if (length == 0 || length >= kPathSize) return ERR_INVALIDFORMAT;
    need_ = have_ + length;
    return nullptr;
  } else {
    NewFile file;
    if (!Name(parsedTo_, entries_, &file)) return ERR_INVALIDFORMAT;
    ++entries_;
    parsedTo_ = have_;
  }
  if (entries_ == count_) {
    tableRead_ = true;
    return Settle();
  }
  need_ = have_ + kEntryHead;
  return nullptr;
}

// Finishes the file whose bytes are all written, and starts the next ones (empty files at once).
ErrorCode SolidOutput::Settle() {
  while (left_ == 0) {
    if (written_) {
      CFile* finished = written_;
      written_ = nullptr;
      if (!CloseTemporary(finished, true)) return Fail(ERR_WRITEFAIL);
      if (crc_ != LoadLittleEndian32(table_ + entry_ + 4)) return Fail(ERR_INVALIDFORMAT);
      entry_ = Next(entry_);
      ++file_;
    }
    if (file_ == count_) return nullptr;
    NewFile file;
    Name(entry_, file_, &file);
    MakeFoldersOf(file);
    written_ = OpenTemporary(file);
    if (!written_) return Fail(ERR_OPENFAIL);
    left_ = LoadLittleEndian32(table_ + entry_);
    crc_ = 0;
  }
  return nullptr;
}

ErrorCode SolidOutput::Write(const void* buffer, u32 size, u32* done) {
  const u8* bytes = static_cast<const u8*>(buffer);
  if (done) *done = size;
  while (size && !tableRead_) {
    if (ErrorCode error = Grow()) return error;
    const u32 take = Min(size, need_ - have_);
    std::memcpy(table_ + have_, bytes, take);
    have_ += take;
    bytes += take;
    size -= take;
    if (have_ == need_) {
      if (ErrorCode error = TablePiece()) return error;
    }
  }
  while (size) {
    if (file_ == count_) return ERR_INVALIDFORMAT;  // more bytes than the table names
    const u32 take = Min(size, left_);
    u32 wrote = 0;
    ErrorCode error = written_->Write(bytes, take, &wrote);
    if (error || wrote != take) return Fail(error ? error : ERR_WRITEFAIL);
    crc_ = Crc32Update(crc_, bytes, take);
    left_ -= take;
    bytes += take;
    size -= take;
    if (left_ == 0 && (error = Settle())) return error;
  }
  return nullptr;
}

// Puts every file of a decoded group in place; a file that cannot be gets the copy question
// (Retry tries again from its temporary, Ignore drops the temporary).
void PutGroupInPlace(SolidOutput* output) {
  u32 offset = kFirstEntry;
  for (u32 i = 0; i < output->Count(); ++i, offset = output->Next(offset)) {
    NewFile file;
    output->Name(offset, i, &file);
    while (!PutInPlace(file)) {
      const int answer = AskCopyQuestion(Relative(file));
      if (answer == ANSWER_RETRY) continue;
      if (answer == ANSWER_ABORT) AbortCopy();  // which removes the group's temporaries
      FileServiceTable.Delete(file.temporary);
      break;
    }
  }
}

}  // namespace

u32 ApplySolidGroup(const char* groupPath) {
  for (;;) {
    SolidOutput output;
    ErrorCode error = nullptr;
    CFile* source = FileServiceTable.Open(groupPath, OPEN_READ, &error);
    error = source ? TarnDecodeFile(source, 0, source->GetSize(), nullptr, &output) : ERR_OPENFAIL;
    delete source;
    if (!error && !output.Complete()) error = ERR_INVALIDFORMAT;
    if (!error) {
      PutGroupInPlace(&output);
      return 1;
    }
    // Nothing of a failed group stays behind. The question names the file the failure was met
    // in, or the first one, or without a table the group itself ("SOLID\0001").
    output.RemoveAll();
    NewFile file;
    const int answer =
        AskCopyQuestion(output.FailedFile(&file) ? Relative(file) : groupPath + sizeof "DATA");
    if (answer == ANSWER_ABORT) AbortCopy();
    if (answer != ANSWER_RETRY) return 1;
  }
}
