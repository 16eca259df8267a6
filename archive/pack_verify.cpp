#include "archive/pack_verify.h"

#include <cstring>

#include "archive/pack_format.h"
#include "archive/pack_writer.h"
#include "core/crc32.h"
#include "core/error_message.h"
#include "core/pools.h"

namespace {

constexpr u32 kReadChunk = 64 * 1024;

u32 ReadLittle32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}

class Verifier {
 public:
  Verifier(CFile* pack, char* message, u32 messageSize)
      : pack_(pack), message_{message, messageSize} {
    if (message && messageSize) message[0] = '\0';
  }
  ~Verifier() {
    if (directory_) g_ptrPool->Free(directory_);
    if (table_) g_ptrPool->Free(table_);
    if (buffer_) g_ptrPool->Free(buffer_);
  }

  ErrorCode CheckDirectory();
  ErrorCode CheckContents();
  PackLayout Layout() const { return {count_, kPackHeaderSize + directorySize_}; }

 private:
  ErrorCode ReadDirectory();
  ErrorCode CheckEntries();
  ErrorCode CheckRanges();
  ErrorCode CheckCrc(u32 index, const char* name, u32 offset, u32 size);
  // Calls check(index, name, offset, size) for every member in directory order until it fails.
  template <typename Check>
  ErrorCode ForEachMember(Check check);

  CFile* pack_;
  ErrorMessage message_;
  u8* directory_ = nullptr;
  u8* table_ = nullptr;
  u8* buffer_ = nullptr;
  u32 packSize_ = 0;
  u32 count_ = 0;
  u32 directorySize_ = 0;
};

ErrorCode Verifier::CheckDirectory() {
  if (!pack_) return message_.Fail(ERR_BADPARAMS, "no pack file");
  packSize_ = pack_->GetSize();
  u8 header[kPackHeaderSize];
  if (packSize_ < kPackHeaderSize)
    return message_.Fail(ERR_INVALIDFORMAT, "the file has %u bytes, fewer than a pack header",
                         packSize_);
  ErrorCode error = pack_->ReadAt(header, 0, kPackHeaderSize, nullptr);
  if (error) return message_.Fail(error, "cannot read the pack header: %s", ErrorText(error));
  if (std::memcmp(header, kPackMagic, kPackMagicSize) != 0)
    return message_.Fail(ERR_INVALIDFORMAT, "not a pack file: the header lacks the pack magic");
  count_ = ReadLittle32(header + kPackCountOffset);
  directorySize_ = ReadLittle32(header + kPackDirectorySizeOffset);
  if (directorySize_ > packSize_ - kPackHeaderSize)
    return message_.Fail(ERR_INVALIDFORMAT,
                         "the directory (%u bytes) runs past the end of the pack (%u bytes)",
                         directorySize_, packSize_);
  error = ReadDirectory();
  if (!error) error = CheckEntries();
  if (!error) error = CheckRanges();
  return error;
}

ErrorCode Verifier::ReadDirectory() {
  directory_ = static_cast<u8*>(g_ptrPool->Alloc(directorySize_ + 1));
  if (!directory_) return message_.Fail(ERR_ALLOCFAIL, "out of memory");
  ErrorCode error = directorySize_
                        ? pack_->ReadAt(directory_, kPackHeaderSize, directorySize_, nullptr)
                        : nullptr;
  if (error) return message_.Fail(error, "cannot read the directory: %s", ErrorText(error));
  return nullptr;
}

// The entries themselves, so the CRC table's place is known.
ErrorCode Verifier::CheckEntries() {
  char name[kPackMaxNameLength + 1] = "";
  char previous[kPackMaxNameLength + 1] = "";
  // Lengths of the members that lead the previous name, shortest first: the candidates for a
  // member that is also the directory of a later one.
  u8 leading[kPackMaxNameLength + 1];
  u32 depth = 0;
  u32 entries = 0;
  for (u32 at = 0; at < directorySize_; ++entries) {
    if (directorySize_ - at < 2)
      return message_.Fail(ERR_INVALIDFORMAT, "entry %u: cut off by the end of the directory",
                           entries);
    u32 total = directory_[at];
    u32 shared = directory_[at + 1];
    u32 previousLength = static_cast<u32>(std::strlen(previous));
    if (total == 0)
      return message_.Fail(ERR_INVALIDFORMAT, "entry %u (after \"%s\"): name length 0", entries,
                           previous);
    if (shared > previousLength || shared >= total)
      return message_.Fail(ERR_INVALIDFORMAT,
                           "entry %u (after \"%s\"): shared length %u does not fit name length %u",
                           entries, previous, shared, total);
    if (static_cast<u64>(at) + 2 + (total - shared) + kPackRecordSize > directorySize_)
      return message_.Fail(ERR_INVALIDFORMAT,
                           "entry %u (after \"%s\"): runs past the end of the directory", entries,
                           previous);
    std::memcpy(name, previous, shared);
    std::memcpy(name + shared, directory_ + at + 2, total - shared);
    name[total] = '\0';
    if (std::strlen(name) != total)
      return message_.Fail(ERR_INVALIDFORMAT, "entry %u (after \"%s\"): the name holds a NUL byte",
                           entries, previous);
    const char* problem = PackCheckName(name);
    if (problem)
      return message_.Fail(ERR_INVALIDFORMAT, "member %u \"%s\": %s", entries, name, problem);
    if (entries > 0 && PackCompareNames(previous, name) >= 0)
      return message_.Fail(ERR_INVALIDFORMAT, "member %u \"%s\": %s \"%s\" in name order", entries,
                           name, PackCompareNames(previous, name) ? "not after" : "a duplicate of",
                           previous);
    if (shared < previousLength && name[shared] == previous[shared])
      return message_.Fail(ERR_INVALIDFORMAT,
                           "member %u \"%s\": shares more than its shared length %u", entries, name,
                           shared);
    // `shared` is now the exact common length, so the leading members of this name are those
    // of the previous one that fit in it; only the longest can hold this name directly.
    while (depth > 0 && leading[depth - 1] > shared) --depth;
    if (depth > 0 && name[leading[depth - 1]] == '\\')
      return message_.Fail(ERR_INVALIDFORMAT,
                           "member %u \"%s\": member \"%.*s\" is also its directory", entries, name,
                           static_cast<int>(leading[depth - 1]), name);
    leading[depth++] = static_cast<u8>(total);
    std::memcpy(previous, name, total + 1);
    at += 2 + (total - shared) + kPackRecordSize;
  }
  if (count_ != 0 && count_ != entries)
    return message_.Fail(ERR_INVALIDFORMAT, "the header counts %u members, the directory holds %u",
                         count_, entries);
  count_ = entries;
  return nullptr;
}

template <typename Check>
ErrorCode Verifier::ForEachMember(Check check) {
  char name[kPackMaxNameLength + 1] = "";
  u32 at = 0;
  for (u32 i = 0; i < count_; ++i) {
    u32 total = directory_[at];
    u32 shared = directory_[at + 1];
    std::memcpy(name + shared, directory_ + at + 2, total - shared);
    name[total] = '\0';
    const u8* record = directory_ + at + 2 + (total - shared);
    ErrorCode error = check(i, name, ReadLittle32(record), ReadLittle32(record + 4));
    if (error) return error;
    at += 2 + (total - shared) + kPackRecordSize;
  }
  return nullptr;
}

// Data in directory order without overlaps: every byte of the pack belongs to at most one
// member, so no member can be read out more than once.
ErrorCode Verifier::CheckRanges() {
  u64 tableEnd = kPackHeaderSize + static_cast<u64>(directorySize_) + 4ull * count_;
  if (tableEnd > packSize_)
    return message_.Fail(ERR_INVALIDFORMAT, "the CRC table runs past the end of the pack");
  u32 previousEnd = static_cast<u32>(tableEnd);
  return ForEachMember([&](u32 index, const char* name, u32 offset, u32 size) -> ErrorCode {
    if (offset < previousEnd)
      return message_.Fail(
          ERR_INVALIDFORMAT, "member %u \"%s\": data at %u begin inside %s (which end at %u)",
          index, name, offset, index ? "the previous member's" : "the directory and CRC table",
          previousEnd);
    if (static_cast<u64>(offset) + size > packSize_)
      return message_.Fail(ERR_INVALIDFORMAT,
                           "member %u \"%s\": data at %u+%u run past the end of the pack (%u)",
                           index, name, offset, size, packSize_);
    previousEnd = offset + size;
    return nullptr;
  });
}

ErrorCode Verifier::CheckContents() {
  table_ = static_cast<u8*>(g_ptrPool->Alloc(4 * count_ + 1));
  buffer_ = static_cast<u8*>(g_ptrPool->Alloc(kReadChunk));
  if (!table_ || !buffer_) return message_.Fail(ERR_ALLOCFAIL, "out of memory");
  ErrorCode error =
      count_ ? pack_->ReadAt(table_, kPackHeaderSize + directorySize_, 4 * count_, nullptr)
             : nullptr;
  if (error) return message_.Fail(error, "cannot read the CRC table: %s", ErrorText(error));
  return ForEachMember([&](u32 index, const char* name, u32 offset, u32 size) {
    return CheckCrc(index, name, offset, size);
  });
}

ErrorCode Verifier::CheckCrc(u32 index, const char* name, u32 offset, u32 size) {
  u32 crc = 0;
  for (u32 done = 0; done < size;) {
    u32 chunk = size - done < kReadChunk ? size - done : kReadChunk;
    ErrorCode error = pack_->ReadAt(buffer_, offset + done, chunk, nullptr);
    if (error)
      return message_.Fail(error, "member %u \"%s\": cannot read byte %u: %s", index, name, done,
                           ErrorText(error));
    crc = Crc32Update(crc, buffer_, chunk);
    done += chunk;
  }
  u32 stored = ReadLittle32(table_ + 4 * index);
  if (crc != stored)
    return message_.Fail(ERR_INVALIDFORMAT,
                         "member %u \"%s\": CRC-32 of the data is %08X, the table says %08X", index,
                         name, crc, stored);
  return nullptr;
}

}  // namespace

ErrorCode CheckPackDirectory(CFile* pack, char* message, u32 messageSize, PackLayout* layout) {
  Verifier verifier(pack, message, messageSize);
  ErrorCode error = verifier.CheckDirectory();
  if (!error && layout) *layout = verifier.Layout();
  return error;
}

ErrorCode VerifyPack(CFile* pack, char* message, u32 messageSize) {
  Verifier verifier(pack, message, messageSize);
  ErrorCode error = verifier.CheckDirectory();
  return error ? error : verifier.CheckContents();
}
