#include "archive/pack_writer.h"

#include <cstring>

#include "archive/pack_format.h"
#include "core/crc32.h"
#include "core/error_message.h"
#include "core/pools.h"

namespace {

void StoreLittle32(u8* p, u32 value) {
  p[0] = static_cast<u8>(value);
  p[1] = static_cast<u8>(value >> 8);
  p[2] = static_cast<u8>(value >> 16);
  p[3] = static_cast<u8>(value >> 24);
}

u32 CommonLength(const char* a, const char* b) {
  u32 i = 0;
  while (a[i] != '\0' && a[i] == b[i]) ++i;
  return i;
}

// Compares the first `length` bytes of `prefix` as a whole name with `name`.
int CompareCounted(const char* prefix, size_t length, const char* name) {
  for (size_t i = 0; i < length; ++i) {
    u8 a = static_cast<u8>(prefix[i]);
    u8 b = static_cast<u8>(name[i]);
    if (a != b) return a < b ? -1 : 1;  // also when name ends (b == 0 < a)
  }
  return name[length] == '\0' ? 0 : -1;
}

bool ContainsCounted(char* const* sorted, u32 count, const char* prefix, size_t length) {
  u32 lo = 0;
  u32 hi = count;
  while (lo < hi) {
    u32 mid = lo + (hi - lo) / 2;
    int order = CompareCounted(prefix, length, sorted[mid]);
    if (order == 0) return true;
    if (order < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return false;
}

}  // namespace

void PackNormalizeName(char* name) {
  for (; *name; ++name) {
    if (*name >= 'a' && *name <= 'z')
      *name = static_cast<char>(*name - 'a' + 'A');
    else if (*name == '/')
      *name = '\\';
  }
}

int PackCompareNames(const char* a, const char* b) {
  const u8* x = reinterpret_cast<const u8*>(a);
  const u8* y = reinterpret_cast<const u8*>(b);
  while (*x && *x == *y) {
    ++x;
    ++y;
  }
  return (*x > *y) - (*x < *y);
}

const char* PackCheckName(const char* name) {
  size_t length = std::strlen(name);
  if (length == 0) return "the name is empty";
  if (length > kPackMaxNameLength) return "the name is longer than 255 bytes";
  if (name[0] == '\\') return "the name begins with a backslash";
  if (name[length - 1] == '\\') return "the name ends with a backslash";
  const char* component = name;
  for (const char* p = name;; ++p) {
    if (*p >= 'a' && *p <= 'z') return "the name has a lower-case letter";
    if (*p == '\\' || *p == '\0') {
      size_t size = static_cast<size_t>(p - component);
      if (size == 0) return "the name has a doubled backslash";
      if ((size == 1 && component[0] == '.') ||
          (size == 2 && component[0] == '.' && component[1] == '.'))
        return "the name has a \".\" or \"..\" component";
      if (*p == '\0') break;
      component = p + 1;
    }
  }
  return nullptr;
}

CPackWriter::CPackWriter(CFile* out) : out_(out) {}

CPackWriter::~CPackWriter() { Reset(); }

void CPackWriter::Reset() {
  if (sizes_) g_ptrPool->Free(sizes_);
  if (crcs_) g_ptrPool->Free(crcs_);
  sizes_ = nullptr;
  crcs_ = nullptr;
  count_ = 0;
  begun_ = false;
}

// Begin's steps.
namespace {

// Normalized copies of the names, in one block behind an array of pointers to them (*copies,
// freed by the caller). The names are measured first, so a name that is too long costs no memory.
ErrorCode CopyNames(u32 count, const char* const* names, ErrorMessage& message, char*** copies) {
  u64 textBytes = 0;
  for (u32 i = 0; i < count; ++i) {
    if (!names[i]) return message.Fail(ERR_BADPARAMS, "member %u has no name", i);
    size_t length = 0;
    while (length <= kPackMaxNameLength && names[i][length] != '\0') ++length;
    if (length > kPackMaxNameLength)
      return message.Fail(ERR_BADPARAMS, "member %u: the name is longer than 255 bytes", i);
    textBytes += length + 1;
  }
  u64 arrayBytes = static_cast<u64>(count) * sizeof(char*);
  if (textBytes + arrayBytes > 0xFFFFFFFFull)
    return message.Fail(ERR_OUTOFRANGE, "too many members");
  char** array =
      static_cast<char**>(g_ptrPool->Alloc(static_cast<u32>(arrayBytes + textBytes) + 1));
  if (!array) return message.Fail(ERR_ALLOCFAIL, "out of memory for %u member names", count);
  char* text = reinterpret_cast<char*>(array + count);
  for (u32 i = 0; i < count; ++i) {
    size_t length = std::strlen(names[i]);
    std::memcpy(text, names[i], length + 1);
    PackNormalizeName(text);
    array[i] = text;
    text += length + 1;
  }
  *copies = array;
  return nullptr;
}

// Each name valid and after the one before it; none also the directory of another, which could
// then not be listed or extracted.
ErrorCode CheckNames(u32 count, char* const* names, ErrorMessage& message) {
  for (u32 i = 0; i < count; ++i) {
    const char* problem = PackCheckName(names[i]);
    if (problem) return message.Fail(ERR_BADPARAMS, "member %u \"%s\": %s", i, names[i], problem);
    if (i > 0 && PackCompareNames(names[i - 1], names[i]) >= 0) {
      return message.Fail(
          ERR_BADPARAMS, "member %u \"%s\": %s \"%s\"", i, names[i],
          PackCompareNames(names[i - 1], names[i]) == 0 ? "duplicates" : "is out of order after",
          names[i - 1]);
    }
  }
  for (u32 i = 0; i < count; ++i) {
    for (const char* p = std::strchr(names[i], '\\'); p; p = std::strchr(p + 1, '\\')) {
      size_t length = static_cast<size_t>(p - names[i]);
      if (ContainsCounted(names, count, names[i], length))
        return message.Fail(ERR_BADPARAMS, "member \"%.*s\" is also the directory of \"%s\"",
                            static_cast<int>(length), names[i], names[i]);
    }
  }
  return nullptr;
}

// Bytes of the front-coded directory: each name less the prefix it shares with the one before.
u64 DirectorySize(u32 count, char* const* names) {
  u64 size = 0;
  for (u32 i = 0; i < count; ++i) {
    u32 shared = i > 0 ? CommonLength(names[i - 1], names[i]) : 0;
    size += 2 + (std::strlen(names[i]) - shared) + kPackRecordSize;
  }
  return size;
}

u64 DataSize(u32 count, const u32* sizes) {
  u64 size = 0;
  for (u32 i = 0; i < count; ++i) size += sizes[i];
  return size;
}

// The header and the directory, into head (tableOffset bytes); the members' data follow the
// CRC table in directory order.
void LayOutHead(u8* head, u32 count, char* const* names, const u32* sizes, u32 directorySize,
                u32 tableOffset) {
  std::memset(head, 0, kPackHeaderSize);
  std::memcpy(head, kPackMagic, kPackMagicSize);
  StoreLittle32(head + kPackCountOffset, count);
  StoreLittle32(head + kPackDirectorySizeOffset, directorySize);
  u8* entry = head + kPackHeaderSize;
  u32 offset = tableOffset + 4 * count;
  for (u32 i = 0; i < count; ++i) {
    u32 length = static_cast<u32>(std::strlen(names[i]));
    u32 shared = i > 0 ? CommonLength(names[i - 1], names[i]) : 0;
    entry[0] = static_cast<u8>(length);
    entry[1] = static_cast<u8>(shared);
    std::memcpy(entry + 2, names[i] + shared, length - shared);
    entry += 2 + length - shared;
    StoreLittle32(entry, offset);
    StoreLittle32(entry + 4, sizes[i]);
    entry += kPackRecordSize;
    offset += sizes[i];
  }
}

}  // namespace

ErrorCode CPackWriter::Begin(u32 count, const char* const* names, const u32* sizes) {
  Reset();
  problem_[0] = '\0';
  if (!out_) return message_.Fail(ERR_BADPARAMS, "no output file");
  if (count > 0 && (!names || !sizes)) return message_.Fail(ERR_BADPARAMS, "no names or sizes");
  char** copies = nullptr;
  ErrorCode error = CopyNames(count, names, message_, &copies);
  if (error) return error;
  error = CheckNames(count, copies, message_);
  u64 directorySize = error ? 0 : DirectorySize(count, copies);
  u64 tableOffset = kPackHeaderSize + directorySize;
  u64 packSize = tableOffset + 4ull * count + DataSize(count, sizes);
  if (!error && packSize > 0xFFFFFFFFull)
    error = message_.Fail(ERR_OUTOFRANGE,
                          "the pack would take %llu bytes; a pack must stay below 4 GiB",
                          static_cast<unsigned long long>(packSize));

  u8* head = nullptr;
  if (!error) {
    head = static_cast<u8*>(g_ptrPool->Alloc(static_cast<u32>(tableOffset)));
    sizes_ = static_cast<u32*>(g_ptrPool->Alloc(count * 4 + 4));
    crcs_ = static_cast<u32*>(g_ptrPool->Alloc(count * 4 + 4));
    if (!head || !sizes_ || !crcs_)
      error = message_.Fail(ERR_ALLOCFAIL, "out of memory for the directory");
  }
  if (!error) {
    LayOutHead(head, count, copies, sizes, static_cast<u32>(directorySize),
               static_cast<u32>(tableOffset));
    for (u32 i = 0; i < count; ++i) {
      sizes_[i] = sizes[i];
      crcs_[i] = 0;
    }
    error = out_->WriteAt(head, 0, static_cast<u32>(tableOffset), nullptr);
    // Zeros for now; Finish fills in the CRCs.
    if (!error && count > 0)
      error = out_->WriteAt(crcs_, static_cast<u32>(tableOffset), 4 * count, nullptr);
    if (error) message_.Fail(error, "cannot write the pack header: %s", ErrorText(error));
  }
  if (head) g_ptrPool->Free(head);
  g_ptrPool->Free(copies);
  if (error) {
    Reset();
    return error;
  }
  count_ = count;
  tableOffset_ = static_cast<u32>(tableOffset);
  packSize_ = static_cast<u32>(packSize);
  position_ = tableOffset_ + 4 * count;
  member_ = 0;
  memberWritten_ = 0;
  begun_ = true;
  SkipEmptyMembers();
  return nullptr;
}

void CPackWriter::SkipEmptyMembers() {
  while (member_ < count_ && memberWritten_ == sizes_[member_]) {
    ++member_;
    memberWritten_ = 0;
  }
}

ErrorCode CPackWriter::Write(const void* data, u32 size) {
  problem_[0] = '\0';
  if (!begun_) return message_.Fail(ERR_BADPARAMS, "Write before Begin");
  if (size > packSize_ - position_)
    return message_.Fail(ERR_OUTOFRANGE, "%u bytes of data beyond the last member",
                         size - (packSize_ - position_));
  const u8* bytes = static_cast<const u8*>(data);
  while (size > 0) {
    u32 chunk = sizes_[member_] - memberWritten_;
    if (chunk > size) chunk = size;
    ErrorCode error = out_->WriteAt(bytes, position_, chunk, nullptr);
    if (error) return message_.Fail(error, "cannot write member %u: %s", member_, ErrorText(error));
    crcs_[member_] = Crc32Update(crcs_[member_], bytes, chunk);
    bytes += chunk;
    size -= chunk;
    position_ += chunk;
    memberWritten_ += chunk;
    SkipEmptyMembers();
  }
  return nullptr;
}

ErrorCode CPackWriter::Finish() {
  problem_[0] = '\0';
  if (!begun_) return message_.Fail(ERR_BADPARAMS, "Finish before Begin");
  if (position_ != packSize_)
    return message_.Fail(ERR_BADPARAMS, "member %u of %u has %u of its %u bytes", member_, count_,
                         memberWritten_, sizes_[member_]);
  if (count_ == 0) return nullptr;
  for (u32 i = 0; i < count_; ++i) StoreLittle32(reinterpret_cast<u8*>(crcs_ + i), crcs_[i]);
  ErrorCode error = out_->WriteAt(crcs_, tableOffset_, 4 * count_, nullptr);
  // The table now holds bytes, not values; no further Write may update it.
  begun_ = false;
  if (error) return message_.Fail(error, "cannot write the CRC table: %s", ErrorText(error));
  return nullptr;
}
