#include "core/name_index.h"

#include <cassert>
#include <cstring>

#include "core/pools.h"

namespace {

// Keys and decoded names, laid out like an entry head: length, shared length, name bytes.
u8 g_scratch[2 + CNameIndex::kMaxNameLength];

u8* ScratchName() { return g_scratch + 2; }
u32 ScratchLength() { return g_scratch[0]; }

// Puts a NUL-terminated key into the scratch buffer; false when it is longer than any name.
bool LoadKey(const char* key) {
  size_t length = 0;
  while (length <= CNameIndex::kMaxNameLength && key[length] != '\0') ++length;
  if (length > CNameIndex::kMaxNameLength) return false;
  g_scratch[0] = static_cast<u8>(length);
  g_scratch[1] = 0;
  std::memcpy(ScratchName(), key, length);
  return true;
}

void CopyScratchTo(char* output) {
  std::memcpy(output, ScratchName(), ScratchLength());
  output[ScratchLength()] = '\0';
}

u32 CommonLength(const u8* a, const u8* b, u32 limit) {
  u32 i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

u32 ReadLittle32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}

}  // namespace

CNameIndex::CNameIndex(u16 recordSize, u8 fieldWidth, MemHandle block, u32 size, u32 count,
                       MemHandle storedCheckpoints, u32 storedCheckpointsSize, u16 checkpointStep)
    : block_(block),
      size_(block ? size : 0),
      count_(count),
      recordSize_(recordSize),
      fieldWidth_(fieldWidth),
      checkpointStep_(checkpointStep) {
  if (!block_) return;
  Validate();
  if (status_) return;
  if (count_ == 0) count_ = usableCount_;
  if (storedCheckpoints && LoadCheckpoints(storedCheckpoints, storedCheckpointsSize)) return;
  BuildCheckpoints();
}

CNameIndex::~CNameIndex() {
  FreeCheckpoints();
  assert(lockCount_ == 0);
  if (block_) MemFree(block_);
}

const u8* CNameIndex::LockBlock() {
  if (!block_) return nullptr;
  if (lockCount_ == 0) {
    lockedData_ = static_cast<const u8*>(MemLock(block_));
    if (!lockedData_) return nullptr;
  }
  ++lockCount_;
  return lockedData_;
}

void CNameIndex::UnlockBlock() {
  assert(lockCount_ > 0);
  if (--lockCount_ == 0) {
    MemUnlock(block_);
    lockedData_ = nullptr;
  }
}

u32 CNameIndex::EntryEnd(const u8* data, u32 offset) const {
  return offset + 2 + data[offset] - data[offset + 1] + recordSize_;
}

// Walks the usable entries from the start, decoding each full name into the scratch buffer, and
// calls visit(index, offset) until it returns false. Stops before the first unusable entry and
// returns the number of entries walked.
template <typename Visit>
u32 CNameIndex::WalkDecoded(const u8* data, Visit visit) {
  u32 offset = 0;
  u32 index = 0;
  u32 previousLength = 0;
  u8* name = ScratchName();
  while (static_cast<u64>(offset) + 2 <= size_) {
    u32 total = data[offset];
    u32 shared = data[offset + 1];
    if (total == 0 || shared > previousLength || shared >= total) break;
    u64 end = static_cast<u64>(offset) + 2 + (total - shared) + recordSize_;
    if (end > size_) break;
    const u8* suffix = data + offset + 2;
    // Strict order with maximal sharing: the first byte after the shared part must grow.
    if (index > 0 && shared < previousLength && suffix[0] <= name[shared]) break;
    // Keys and results are NUL-terminated strings, so such a name could never be asked for.
    if (std::memchr(suffix, 0, total - shared)) break;
    std::memcpy(name + shared, suffix, total - shared);
    g_scratch[0] = static_cast<u8>(total);
    previousLength = total;
    if (!visit(index, offset)) return index;
    ++index;
    offset = static_cast<u32>(end);
  }
  return index;
}

void CNameIndex::Validate() {
  const u8* data = LockBlock();
  if (!data) {
    status_ = ERR_LOCKFAIL;
    return;
  }
  u32 end = 0;
  usableCount_ = WalkDecoded(data, [&](u32, u32 offset) {
    end = EntryEnd(data, offset);
    return true;
  });
  usableEnd_ = end;
  UnlockBlock();
}

CNameIndex::Checkpoint* CNameIndex::LockCheckpoints() {
  return static_cast<Checkpoint*>(MemLock(checkpoints_));
}

void CNameIndex::UnlockCheckpoints() { MemUnlock(checkpoints_); }

void CNameIndex::FreeCheckpoints() {
  if (!checkpoints_) return;
  Checkpoint* table = LockCheckpoints();
  if (table) {
    for (u32 i = 0; i < checkpointCount_; ++i) g_ptrPool->Free(table[i].name);
    UnlockCheckpoints();
  }
  MemFree(checkpoints_);
  checkpoints_ = 0;
  checkpointCount_ = 0;
}

void CNameIndex::BuildCheckpoints() {
  u32 listed = count_ < usableCount_ ? count_ : usableCount_;
  if (checkpointStep_ == 0 || listed < checkpointStep_) return;
  u32 wanted = listed / checkpointStep_;
  checkpoints_ = MemAlloc(wanted * static_cast<u32>(sizeof(Checkpoint)));
  if (!checkpoints_) return;
  Checkpoint* table = LockCheckpoints();
  const u8* data = LockBlock();
  if (!table || !data) {
    if (table) UnlockCheckpoints();
    if (data) UnlockBlock();
    FreeCheckpoints();
    return;
  }
  bool complete = true;
  WalkDecoded(data, [&](u32 index, u32 offset) {
    if (index % checkpointStep_ != 0) return true;
    u32 slot = index / checkpointStep_;
    if (slot >= wanted) return false;
    char* copy = static_cast<char*>(g_ptrPool->Alloc(ScratchLength() + 1));
    if (!copy) {
      complete = false;
      return false;
    }
    CopyScratchTo(copy);
    table[slot] = Checkpoint{offset, ScratchLength(), copy};
    checkpointCount_ = slot + 1;
    return true;
  });
  UnlockBlock();
  UnlockCheckpoints();
  // Lookups stay correct without checkpoints, only slower; a partial table would not be.
  if (!complete || checkpointCount_ != wanted) FreeCheckpoints();
}

bool CNameIndex::LoadCheckpoints(MemHandle stored, u32 storedSize) {
  if (checkpointStep_ == 0 || storedSize < 4) return false;
  const u8* bytes = static_cast<const u8*>(MemLock(stored));
  if (!bytes) return false;
  u32 wanted = ReadLittle32(bytes);
  // Every stored checkpoint takes at least 6 bytes, and each names a distinct usable entry.
  bool plausible = wanted > 0 && wanted <= (storedSize - 4) / 6 &&
                   static_cast<u64>(wanted - 1) * checkpointStep_ < usableCount_;
  if (plausible) checkpoints_ = MemAlloc(wanted * static_cast<u32>(sizeof(Checkpoint)));
  Checkpoint* table = checkpoints_ ? LockCheckpoints() : nullptr;
  bool loaded = table != nullptr;
  u32 at = 4;
  for (u32 i = 0; loaded && i < wanted; ++i) {
    u32 length = at < storedSize ? bytes[at] : 0;
    if (length == 0 || static_cast<u64>(at) + 1 + length + 4 > storedSize) {
      loaded = false;
      break;
    }
    char* copy = static_cast<char*>(g_ptrPool->Alloc(length + 1));
    if (!copy) {
      loaded = false;
      break;
    }
    std::memcpy(copy, bytes + at + 1, length);
    copy[length] = '\0';
    table[i] = Checkpoint{ReadLittle32(bytes + at + 1 + length), length, copy};
    checkpointCount_ = i + 1;
    at += 1 + length + 4;
  }
  MemUnlock(stored);
  const u8* data = loaded ? LockBlock() : nullptr;
  if (data) {
    u32 matched = 0;
    WalkDecoded(data, [&](u32 index, u32 offset) {
      if (index % checkpointStep_ != 0) return true;
      const Checkpoint& c = table[index / checkpointStep_];
      if (c.offset != offset || c.length != ScratchLength() ||
          std::memcmp(c.name, ScratchName(), c.length) != 0)
        return false;
      return ++matched < wanted;
    });
    UnlockBlock();
    loaded = matched == wanted;
  }
  if (table) UnlockCheckpoints();
  if (!loaded) FreeCheckpoints();
  return loaded;
}

u32 CNameIndex::CheckpointOffset(u32 i) {
  if (i >= checkpointCount_) return 0xFFFFFFFFu;
  Checkpoint* table = LockCheckpoints();
  if (!table) return 0xFFFFFFFFu;
  u32 offset = table[i].offset;
  UnlockCheckpoints();
  return offset;
}

// The last checkpoint whose name is not greater than the key, or the first one.
u32 CNameIndex::ChooseCheckpoint(const u8* key, u32 keyLength) {
  Checkpoint* table = LockCheckpoints();
  if (!table) return 0;
  u32 lo = 0;
  u32 hi = checkpointCount_;
  // Every name between two checkpoints shares with the key at least as many leading bytes as the
  // nearer of the two does, so a comparison starts after those (lcp-aware string binary search).
  u32 loCommon = 0, hiCommon = 0;
  while (hi - lo > 1) {
    const u32 mid = lo + (hi - lo) / 2;
    const u8* name = reinterpret_cast<const u8*>(table[mid].name);
    const u32 nameLength = table[mid].length;
    const u32 shorter = keyLength < nameLength ? keyLength : nameLength;
    u32 common = loCommon < hiCommon ? loCommon : hiCommon;
    while (common < shorter && key[common] == name[common]) ++common;
    // A name sorts before every longer name that it begins.
    const bool keySmaller = common == shorter ? keyLength < nameLength : key[common] < name[common];
    if (common == shorter && keyLength == nameLength) {
      lo = mid;
      break;
    }
    if (keySmaller) {
      hi = mid;
      hiCommon = common;
    } else {
      lo = mid;
      loCommon = common;
    }
  }
  UnlockCheckpoints();
  return lo;
}

bool CNameIndex::ExactSearch(const u8* data, u32* entryOffset) {
  const u8* key = ScratchName();
  const u32 keyLength = ScratchLength();
  u32 offset = 0;
  u32 known = 0;  // leading key bytes equal to the previous full name
  Checkpoint* table = checkpointCount_ ? LockCheckpoints() : nullptr;
  if (table) {
    const Checkpoint& c = table[ChooseCheckpoint(key, keyLength)];
    u32 shorter = keyLength < c.length ? keyLength : c.length;
    u32 common = CommonLength(key, reinterpret_cast<const u8*>(c.name), shorter);
    bool equal = common == shorter && keyLength == c.length;
    bool keySmaller =
        common == shorter ? keyLength < c.length : key[common] < static_cast<u8>(c.name[common]);
    u32 checkpointOffset = c.offset;
    UnlockCheckpoints();
    if (equal) {
      *entryOffset = checkpointOffset;
      return true;
    }
    if (keySmaller) return false;
    known = common;
    offset = EntryEnd(data, checkpointOffset);
  }
  while (offset < usableEnd_) {
    u32 total = data[offset];
    u32 shared = data[offset + 1];
    if (shared < known) return false;  // differs from the previous name before the key does
    if (shared == known) {
      const u8* suffix = data + offset + 2;
      u32 suffixLength = total - shared;
      u32 rest = keyLength - known;
      u32 shorter = rest < suffixLength ? rest : suffixLength;
      u32 common = CommonLength(key + known, suffix, shorter);
      if (common == shorter) {
        if (rest == suffixLength) {
          *entryOffset = offset;
          return true;
        }
        if (rest < suffixLength) return false;
      } else if (key[known + common] < suffix[common]) {
        return false;
      }
      known += common;
    }
    // shared > known: the entry keeps bytes of the previous name where the key is greater.
    offset = EntryEnd(data, offset);
  }
  return false;
}

bool CNameIndex::PrefixSearch(const u8* data, u32* entryOffset, u32* entryIndex) {
  u8* prefix = ScratchName();
  const u32 prefixLength = ScratchLength();
  u32 offset = 0;
  u32 index = 0;
  u32 known = 0;
  Checkpoint* table = checkpointCount_ ? LockCheckpoints() : nullptr;
  if (table) {
    u32 chosen = ChooseCheckpoint(prefix, prefixLength);
    const Checkpoint& c = table[chosen];
    u32 shorter = prefixLength < c.length ? prefixLength : c.length;
    u32 common = CommonLength(prefix, reinterpret_cast<const u8*>(c.name), shorter);
    bool begins = common == prefixLength;
    bool after = !begins && common < c.length && prefix[common] < static_cast<u8>(c.name[common]);
    u32 checkpointOffset = c.offset;
    if (begins) {
      std::memcpy(prefix, c.name, c.length);
      g_scratch[0] = static_cast<u8>(c.length);
    }
    UnlockCheckpoints();
    index = chosen * checkpointStep_;
    if (begins) {
      *entryOffset = checkpointOffset;
      *entryIndex = index;
      return true;
    }
    if (after) return false;
    known = common;
    offset = EntryEnd(data, checkpointOffset);
    ++index;
  }
  while (offset < usableEnd_) {
    u32 total = data[offset];
    u32 shared = data[offset + 1];
    if (shared < known) return false;
    if (shared == known) {
      const u8* suffix = data + offset + 2;
      u32 suffixLength = total - shared;
      u32 rest = prefixLength - known;
      u32 shorter = rest < suffixLength ? rest : suffixLength;
      u32 common = CommonLength(prefix + known, suffix, shorter);
      if (common == rest) {
        // The first `known` bytes of this name are the prefix's; the rest is the suffix.
        std::memcpy(prefix + shared, suffix, suffixLength);
        g_scratch[0] = static_cast<u8>(total);
        *entryOffset = offset;
        *entryIndex = index;
        return true;
      }
      if (common < shorter && prefix[known + common] < suffix[common]) return false;
      known += common;
    }
    offset = EntryEnd(data, offset);
    ++index;
  }
  return false;
}

u32 CNameIndex::FindRecord(const char* name, void* record) {
  if (!name || !LoadKey(name)) return 0;
  const u8* data = LockBlock();
  if (!data) return 0;
  u32 offset = 0;
  bool found = ExactSearch(data, &offset);
  if (found) {
    u32 nameBytes = data[offset] - data[offset + 1];
    std::memcpy(record, data + offset + 2 + nameBytes, recordSize_);
  }
  UnlockBlock();
  return found ? 1 : 0;
}

u32 CNameIndex::NextName(const char* name, char* output) {
  const u8* data = LockBlock();
  if (!data) return 0;
  u32 found = 0;
  if (!name) {
    if (usableEnd_ > 0) {
      u32 length = data[0];
      std::memcpy(ScratchName(), data + 2, length);
      g_scratch[0] = static_cast<u8>(length);
      found = 1;
    }
  } else if (LoadKey(name)) {
    u32 offset = 0;
    if (ExactSearch(data, &offset)) {
      u32 next = EntryEnd(data, offset);
      if (next < usableEnd_) {
        // The key is the previous full name, and a usable entry shares no more than its length.
        u32 shared = data[next + 1];
        u32 total = data[next];
        assert(shared <= ScratchLength());
        std::memcpy(ScratchName() + shared, data + next + 2, total - shared);
        g_scratch[0] = static_cast<u8>(total);
        found = 1;
      }
    }
  }
  UnlockBlock();
  if (found) CopyScratchTo(output);
  return found;
}

u32 CNameIndex::FindPrefix(const char* prefix, char* output, u32* index) {
  if (!prefix || !LoadKey(prefix)) return 0;
  const u8* data = LockBlock();
  if (!data) return 0;
  u32 offset = 0;
  u32 position = 0;
  bool found = PrefixSearch(data, &offset, &position);
  UnlockBlock();
  if (!found) return 0;
  CopyScratchTo(output);
  if (index) *index = position;
  return 1;
}
