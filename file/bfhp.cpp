#include "file/bfhp.h"

#include <cstring>

namespace {

u32 LoadWord(const u8* bytes) {
  return static_cast<u32>(bytes[0]) | static_cast<u32>(bytes[1]) << 8 |
         static_cast<u32>(bytes[2]) << 16 | static_cast<u32>(bytes[3]) << 24;
}

void StoreWord(u8* bytes, u32 value) {
  bytes[0] = static_cast<u8>(value);
  bytes[1] = static_cast<u8>(value >> 8);
  bytes[2] = static_cast<u8>(value >> 16);
  bytes[3] = static_cast<u8>(value >> 24);
}

u64 CeilDiv(u64 value, u64 divisor) { return (value + divisor - 1) / divisor; }

// Root block layout in front of the pointer array.
constexpr u32 kRootSizeOffset = 0;
constexpr u32 kRootDepthOffset = 4;

// Anything above this is more than a 32-bit store can hold; keeps the arithmetic in 64 bits.
constexpr u64 kSaturated = u64{1} << 40;

}  // namespace

void EncodeHpfsHeader(const HpfsHeader& h, u8* bytes) {
  const u32 words[8] = {h.magic,     h.blockSize,     h.blockCount,     h.maxBlocks,
                        h.freeCount, h.freeListBlock, h.rootHeaderSize, h.rootValue};
  for (u32 i = 0; i < 8; ++i) StoreWord(bytes + 4 * i, words[i]);
}

void DecodeHpfsHeader(const u8* bytes, HpfsHeader* h) {
  h->magic = LoadWord(bytes);
  h->blockSize = LoadWord(bytes + 4);
  h->blockCount = LoadWord(bytes + 8);
  h->maxBlocks = LoadWord(bytes + 12);
  h->freeCount = LoadWord(bytes + 16);
  h->freeListBlock = LoadWord(bytes + 20);
  h->rootHeaderSize = LoadWord(bytes + 24);
  h->rootValue = LoadWord(bytes + 28);
}

ErrorCode CheckHpfsGeometry(u32 blockSize, u32 rootHeaderSize) {
  if (blockSize < kHpfsMinBlockSize || blockSize > kHpfsMaxBlockSize || blockSize % 4 != 0)
    return ERR_INVALIDFORMAT;
  if (rootHeaderSize < kHpfsMinRootHeaderSize || rootHeaderSize % 4 != 0 ||
      rootHeaderSize > blockSize - 4)
    return ERR_INVALIDFORMAT;
  return nullptr;
}

CBFHP::CBFHP(CPtrPool* nodePool, u32 ownsNodePool)
    : CFileHandlePool(nodePool, ownsNodePool),
      slots(static_cast<Slot*>(g_ptrPool->Alloc(kSlotCount * sizeof(Slot)))) {
  if (slots) std::memset(slots, 0, kSlotCount * sizeof(Slot));
}

CBFHP::~CBFHP() {
  if (file) Flush();
  ReleaseBuffers();
  if (slots) g_ptrPool->Free(slots);
  delete file;
}

void CBFHP::ReleaseBuffers() {
  if (buffers) g_ptrPool->Free(buffers);
  buffers = nullptr;
  if (slots) std::memset(slots, 0, kSlotCount * sizeof(Slot));
}

ErrorCode CBFHP::Attach(CFile* newFile) {
  if (!newFile) return lastError = ERR_BADPARAMS;
  if (!slots) return lastError = ERR_ALLOCFAIL;
  if (file) Flush();
  ReleaseBuffers();
  delete file;
  file = nullptr;

  u8 bytes[kHpfsHeaderSize];
  ErrorCode error = newFile->ReadAt(bytes, 0, kHpfsHeaderSize, nullptr);
  if (error) return lastError = error;
  HpfsHeader h;
  DecodeHpfsHeader(bytes, &h);
  if (h.magic != kHpfsMagic) return lastError = ERR_INVALIDFORMAT;
  if (CheckHpfsGeometry(h.blockSize, h.rootHeaderSize)) return lastError = ERR_INVALIDFORMAT;
  // Every block below blockCount must have a 32-bit position, and none may lie wholly beyond
  // the end of the file: a header that claims more would let a handle promise data that is
  // not there.
  u64 limit = (u64{1} << 32) / h.blockSize;
  if (h.blockCount == 0 || h.blockCount > limit ||
      h.blockCount > CeilDiv(newFile->GetSize(), h.blockSize))
    return lastError = ERR_INVALIDFORMAT;
  if (h.freeCount >= h.blockCount) return lastError = ERR_INVALIDFORMAT;

  buffers = static_cast<u8*>(g_ptrPool->Alloc(kSlotCount * h.blockSize));
  if (!buffers) return lastError = ERR_ALLOCFAIL;
  for (int i = 0; i < kSlotCount; ++i) slots[i] = Slot{buffers + i * h.blockSize, 0, 0};
  file = newFile;
  header = h;
  headerModified = false;
  changed = false;
  wordsPerBlock = h.blockSize / 4;
  rootFirstWord = h.rootHeaderSize / 4;
  rootPointers = (h.blockSize - h.rootHeaderSize) / 4;
  blockLimit = h.maxBlocks < limit ? h.maxBlocks : limit;
  depth = 0;
  std::memset(digits, 0, sizeof digits);
  return lastError = nullptr;
}

bool CBFHP::ValidBlock(u64 block) const { return block != 0 && block < header.blockCount; }

ErrorCode CBFHP::LoadSlot(int s, u32 block, bool read) {
  Slot& slot = slots[s];
  if (slot.block == block && read) return nullptr;
  if ((slot.flags & kSlotModified) && slot.block != 0) {
    lastError =
        file->WriteAt(slot.buffer, slot.block * header.blockSize, header.blockSize, nullptr);
  }
  // A block lives in one slot at a time, so no two copies can disagree.
  for (int other = 0; other < kSlotCount; ++other) {
    Slot& twin = slots[other];
    if (other == s || twin.block != block || block == 0) continue;
    if (twin.flags & kSlotModified) {
      lastError = file->WriteAt(twin.buffer, block * header.blockSize, header.blockSize, nullptr);
    }
    twin.block = 0;
    twin.flags = 0;
  }
  slot.block = block;
  slot.flags = 0;
  if (block == 0 || !read) return nullptr;
  ErrorCode error = file->ReadAt(slot.buffer, block * header.blockSize, header.blockSize, nullptr);
  if (error) {
    slot.block = 0;
    lastError = error;
  }
  return error;
}

void CBFHP::MarkModified(int s) {
  slots[s].flags |= kSlotModified;
  changed = true;
}

void CBFHP::ForgetBlock(u32 block) {
  for (int s = 0; s < kSlotCount; ++s) {
    if (slots[s].block == block) {
      slots[s].block = 0;
      slots[s].flags = 0;
    }
  }
}

u64 CBFHP::Capacity(int atDepth) const {
  u64 blocks = rootPointers;
  for (int level = 0; level < atDepth && blocks < kSaturated; ++level) blocks *= wordsPerBlock;
  return blocks;
}

u32 CBFHP::RootSize() const { return LoadWord(slots[kRootSlot].buffer + kRootSizeOffset); }

void CBFHP::SetRootSize(u32 size) {
  StoreWord(slots[kRootSlot].buffer + kRootSizeOffset, size);
  MarkModified(kRootSlot);
}

void CBFHP::SetRootDepth(int newDepth) {
  u8* at = slots[kRootSlot].buffer + kRootDepthOffset;
  at[0] = static_cast<u8>(newDepth);
  at[1] = 0;
  depth = newDepth;
  MarkModified(kRootSlot);
}

ErrorCode CBFHP::LoadRoot(PoolHandle handle) {
  if (!file) return ERR_BADPARAMS;
  if (!ValidBlock(handle)) return ERR_INVALIDFORMAT;
  ErrorCode error = LoadSlot(kRootSlot, static_cast<u32>(handle), true);
  if (error) return error;
  const u8* root = slots[kRootSlot].buffer;
  int rootDepth = static_cast<i16>(root[kRootDepthOffset] | root[kRootDepthOffset + 1] << 8);
  if (rootDepth < 0 || rootDepth > kHpfsMaxDepth) return ERR_INVALIDFORMAT;
  // The data blocks, the root and block 0 are distinct blocks of the file.
  u64 dataBlocks = CeilDiv(RootSize(), header.blockSize);
  if (dataBlocks > Capacity(rootDepth) || dataBlocks + 2 > header.blockCount)
    return ERR_INVALIDFORMAT;
  depth = rootDepth;
  return nullptr;
}

u32 CBFHP::Entry(int level) const {
  if (level == 0) return LoadWord(slots[kRootSlot].buffer + 4 * (rootFirstWord + digits[0]));
  return LoadWord(slots[kRootSlot + level].buffer + 4 * digits[level]);
}

void CBFHP::SetEntry(int level, u32 value) {
  int s = kRootSlot + level;
  u32 word = level == 0 ? rootFirstWord + digits[0] : digits[level];
  StoreWord(slots[s].buffer + 4 * word, value);
  MarkModified(s);
}

ErrorCode CBFHP::LoadLevelsBelow(int level) {
  for (int j = level + 1; j <= depth; ++j) {
    u32 block = Entry(j - 1);
    if (!ValidBlock(block)) return ERR_INVALIDFORMAT;
    ErrorCode error = LoadSlot(kRootSlot + j, block, true);
    if (error) return error;
  }
  return nullptr;
}

ErrorCode CBFHP::Locate(u32 byte) {
  u64 k = byte / header.blockSize;
  for (int j = depth; j > 0; --j) {
    digits[j] = static_cast<u32>(k % wordsPerBlock);
    k /= wordsPerBlock;
  }
  if (k >= rootPointers) return ERR_INVALIDFORMAT;
  digits[0] = static_cast<u32>(k);
  return LoadLevelsBelow(0);
}

ErrorCode CBFHP::Advance() {
  int level = depth;
  while (level > 0 && digits[level] == wordsPerBlock - 1) digits[level--] = 0;
  if (++digits[level] >= (level == 0 ? rootPointers : wordsPerBlock)) return ERR_INVALIDFORMAT;
  return LoadLevelsBelow(level);
}

ErrorCode CBFHP::CurrentDataBlock(u32* block) const {
  *block = Entry(depth);
  return ValidBlock(*block) ? nullptr : ERR_INVALIDFORMAT;
}

ErrorCode CBFHP::TakeBlock(u32* block) {
  *block = 0;
  if (header.freeCount > 0) {
    if (!ValidBlock(header.freeListBlock)) return ERR_INVALIDFORMAT;
    u32 p = (header.freeCount - 1) % wordsPerBlock;
    ErrorCode error = LoadSlot(kFreeListSlot, header.freeListBlock, true);
    if (error) return error;
    const u8* list = slots[kFreeListSlot].buffer;
    u32 taken = p == 0 ? header.freeListBlock : LoadWord(list + 4 * p);
    if (!ValidBlock(taken)) return ERR_INVALIDFORMAT;
    if (p == 0) header.freeListBlock = LoadWord(list);
    --header.freeCount;
    ForgetBlock(taken);
    *block = taken;
  } else if (header.blockCount < blockLimit) {
    *block = header.blockCount++;
  } else {
    return ERR_DISKFULL;
  }
  headerModified = true;
  changed = true;
  return nullptr;
}

ErrorCode CBFHP::ReleaseBlock(u32 block) {
  if (!ValidBlock(block)) return ERR_INVALIDFORMAT;
  ForgetBlock(block);
  headerModified = true;
  changed = true;
  if (block == header.blockCount - 1) {
    --header.blockCount;
    ErrorCode error = file->Seek(static_cast<i32>(header.blockCount * header.blockSize), 0);
    if (!error) error = file->Truncate();
    if (error) lastError = error;
    return nullptr;
  }
  if (header.freeCount == 0) {
    header.freeListBlock = block;
  } else {
    u32 p = (header.freeCount - 1) % wordsPerBlock;
    if (p < wordsPerBlock - 1) {
      if (!ValidBlock(header.freeListBlock)) return ERR_INVALIDFORMAT;
      ErrorCode error = LoadSlot(kFreeListSlot, header.freeListBlock, true);
      if (error) return error;
      StoreWord(slots[kFreeListSlot].buffer + 4 * (p + 1), block);
    } else {
      LoadSlot(kFreeListSlot, block, false);
      std::memset(slots[kFreeListSlot].buffer, 0, header.blockSize);
      StoreWord(slots[kFreeListSlot].buffer, header.freeListBlock);
      header.freeListBlock = block;
    }
    MarkModified(kFreeListSlot);
  }
  ++header.freeCount;
  return nullptr;
}

u64 CBFHP::AvailableBlocks() const {
  u64 fresh = blockLimit > header.blockCount ? blockLimit - header.blockCount : 0;
  return header.freeCount + fresh;
}

u64 CBFHP::IndexBlocksFor(u64 dataBlocks, int atDepth) const {
  u64 total = 0;
  u64 span = 1;
  for (int level = atDepth; level > 0; --level) {
    span = span < kSaturated ? span * wordsPerBlock : span;
    total += CeilDiv(dataBlocks, span);
  }
  return total;
}

PoolHandle CBFHP::Alloc(u32 size) {
  if (!file) return 0;
  u32 root;
  if (TakeBlock(&root)) return 0;
  LoadSlot(kRootSlot, root, false);
  std::memset(slots[kRootSlot].buffer, 0, header.blockSize);
  MarkModified(kRootSlot);
  depth = 0;
  if (Realloc(root, size)) return root;
  ReleaseBlock(root);  // the root block would otherwise be lost to the file
  return 0;
}

PoolHandle CBFHP::Realloc(PoolHandle handle, u32 size) {
  if (size == kWholeBlock) size = 0;
  if (LoadRoot(handle)) return 0;
  u32 oldSize = RootSize();
  if (oldSize == size) return handle;
  u64 oldBlocks = CeilDiv(oldSize, header.blockSize);
  u64 newBlocks = CeilDiv(size, header.blockSize);
  if (oldBlocks == 0 && depth != 0) SetRootDepth(0);  // an empty tree has no levels to keep
  if (newBlocks > oldBlocks) {
    // Count the index blocks too, so that a growth that cannot complete changes nothing.
    int newDepth = depth;
    while (newBlocks > Capacity(newDepth)) {
      if (++newDepth > kHpfsMaxDepth) return 0;
    }
    u64 needed = newBlocks - oldBlocks + IndexBlocksFor(newBlocks, newDepth) -
                 IndexBlocksFor(oldBlocks, depth);
    if (needed > AvailableBlocks()) return 0;
  }
  SetRootSize(size);
  if (newBlocks == oldBlocks) return handle;
  if (Locate(oldSize ? oldSize - 1 : 0)) {
    SetRootSize(oldSize);
    return 0;
  }
  if (newBlocks < oldBlocks) return Shrink(oldBlocks - newBlocks) ? 0 : handle;
  return GrowOrUndo(handle, oldSize, oldBlocks, newBlocks);
}

ErrorCode CBFHP::Shrink(u64 blocks) {
  for (; blocks > 0; --blocks) {
    u32 data = Entry(depth);
    ReleaseBlock(data);  // a bad number in a damaged tree is skipped, not followed
    int level = depth;
    while (level > 0 && digits[level] == 0) {
      ReleaseBlock(slots[kRootSlot + level].block);
      digits[level--] = wordsPerBlock - 1;
    }
    if (level == 0 && digits[0] == 0) {
      SetRootDepth(0);
      return nullptr;
    }
    --digits[level];
    ErrorCode error = LoadLevelsBelow(level);
    if (error) return error;
  }
  return nullptr;
}

// Appends one data block behind the current path, adding index blocks (and a level at the root)
// as the path fills up. Blocks taken here are given back when a later step fails.
ErrorCode CBFHP::AddDataBlock() {
  u32 taken[kHpfsMaxDepth + 2];
  int takenCount = 0;
  u32 pending;
  ErrorCode error = TakeBlock(&pending);
  if (error) return error;
  taken[takenCount++] = pending;
  int level = depth;
  for (;;) {
    if (level > 0) {
      if (digits[level] != wordsPerBlock - 1) break;
      u32 index;
      error = TakeBlock(&index);
      if (error) break;
      taken[takenCount++] = index;
      int s = kRootSlot + level;
      LoadSlot(s, index, false);
      std::memset(slots[s].buffer, 0, header.blockSize);
      StoreWord(slots[s].buffer, pending);
      MarkModified(s);
      pending = index;
      digits[level--] = 0;
      continue;
    }
    if (digits[0] != rootPointers - 1) break;
    if (depth == kHpfsMaxDepth) {
      error = ERR_OUTOFRANGE;  // a sixth level would not fit the cache
      break;
    }
    u32 top;
    error = TakeBlock(&top);
    if (error) break;
    taken[takenCount++] = top;
    // The new level-1 block takes over the root's pointers; the cached path moves one level
    // down, so the free slot of the deepest level becomes the slot of level 1.
    int spare = kRootSlot + depth + 1;
    LoadSlot(spare, top, false);
    u8* root = slots[kRootSlot].buffer + 4 * rootFirstWord;
    std::memset(slots[spare].buffer, 0, header.blockSize);
    std::memcpy(slots[spare].buffer, root, 4 * rootPointers);
    std::memset(root, 0, 4 * rootPointers);
    StoreWord(root, top);
    Slot moved = slots[spare];
    for (int j = depth; j >= 1; --j) slots[kRootSlot + j + 1] = slots[kRootSlot + j];
    slots[kRootSlot + 1] = moved;
    MarkModified(kRootSlot + 1);
    for (int j = depth; j >= 0; --j) digits[j + 1] = digits[j];
    digits[0] = 0;
    SetRootDepth(depth + 1);
    level = 1;
  }
  if (error) {
    while (takenCount > 0) ReleaseBlock(taken[--takenCount]);
    return error;
  }
  ++digits[level];
  SetEntry(level, pending);
  return nullptr;
}

PoolHandle CBFHP::GrowOrUndo(PoolHandle handle, u32 oldSize, u64 oldBlocks, u64 newBlocks) {
  u64 present = oldBlocks;
  ErrorCode error = nullptr;
  if (present == 0) {
    u32 first;
    error = TakeBlock(&first);
    if (!error) {
      std::memset(digits, 0, sizeof digits);
      SetEntry(0, first);
      present = 1;
    }
  }
  while (!error && present < newBlocks) {
    error = AddDataBlock();
    if (!error) ++present;
  }
  if (!error) return handle;
  // A damaged free list ran dry: give back every block added, so the handle is as it was.
  // The root stays in its slot throughout: only the free-list slot and the path slots change.
  if (slots[kRootSlot].block == handle) {
    if (present > oldBlocks && !Locate(static_cast<u32>((present - 1) * header.blockSize)))
      Shrink(present - oldBlocks);
    SetRootSize(oldSize);
  }
  return 0;
}

int CBFHP::Depth(PoolHandle handle) { return LoadRoot(handle) ? -1 : depth; }

u32 CBFHP::Size(PoolHandle handle) {
  ErrorCode error = LoadRoot(handle);
  if (error) {
    lastError = error;
    return 0;
  }
  return RootSize();
}

ErrorCode CBFHP::Free(PoolHandle handle) {
  if (!Realloc(handle, 0)) return ERR_INVALIDFORMAT;
  return ReleaseBlock(static_cast<u32>(handle));
}

ErrorCode CBFHP::Transfer(PoolHandle handle, u8* into, const u8* from, u32 offset, u32 count) {
  ErrorCode error = LoadRoot(handle);
  if (error) return error;
  u32 size = RootSize();
  if (offset >= size) return ERR_BADPARAMS;
  if (count > size - offset) count = size - offset;
  if (count == 0) return nullptr;
  error = Locate(offset);
  u32 runBlock = 0;
  if (!error) error = CurrentDataBlock(&runBlock);
  if (error) return error;
  u32 runOffset = offset % header.blockSize;
  u64 runLength = header.blockSize - runOffset;
  u32 previous = runBlock;
  // Consecutively numbered blocks are moved with one call on the file.
  auto move = [&](u32 length) -> ErrorCode {
    u32 at = runBlock * header.blockSize + runOffset;
    ErrorCode result =
        into ? file->ReadAt(into, at, length, nullptr) : file->WriteAt(from, at, length, nullptr);
    if (result) lastError = result;
    if (into) into += length;
    if (from) from += length;
    return result;
  };
  while (count > runLength) {
    u32 next;
    error = Advance();
    if (!error) error = CurrentDataBlock(&next);
    if (error) return error;
    if (next == previous + 1) {
      runLength += header.blockSize;
    } else {
      error = move(static_cast<u32>(runLength));
      if (error) return error;
      count -= static_cast<u32>(runLength);
      runBlock = next;
      runOffset = 0;
      runLength = header.blockSize;
    }
    previous = next;
  }
  if (!into) changed = true;
  return move(count);
}

ErrorCode CBFHP::ReadHandle(PoolHandle handle, void* buffer, u32 offset, u32 count) {
  if (!buffer) return ERR_BADPARAMS;
  return Transfer(handle, static_cast<u8*>(buffer), nullptr, offset, count);
}

ErrorCode CBFHP::WriteHandle(PoolHandle handle, const void* buffer, u32 offset, u32 count) {
  if (!buffer) return ERR_BADPARAMS;
  return Transfer(handle, nullptr, static_cast<const u8*>(buffer), offset, count);
}

ErrorCode CBFHP::Flush() {
  if (!file) return lastError = ERR_UNKNOWN;
  ErrorCode first = nullptr;
  if (headerModified) {
    u8 bytes[kHpfsHeaderSize];
    EncodeHpfsHeader(header, bytes);
    ErrorCode error = file->WriteAt(bytes, 0, kHpfsHeaderSize, nullptr);
    if (error) return lastError = error;
    headerModified = false;
  }
  for (int s = 0; s < kSlotCount; ++s) {
    Slot& slot = slots[s];
    if ((slot.flags & kSlotModified) && slot.block != 0) {
      ErrorCode error =
          file->WriteAt(slot.buffer, slot.block * header.blockSize, header.blockSize, nullptr);
      if (error && !first) first = error;
    }
    slot.flags = 0;
  }
  // Blocks that were taken but never written would lie beyond the end of the file; pad it so
  // that every block of the store can be read back.
  if (changed && !first) {
    u64 want = u64{header.blockCount} * header.blockSize;
    u64 have = file->GetSize();
    if (have < want) {
      Slot& pad = slots[kFreeListSlot];
      pad.block = 0;
      std::memset(pad.buffer, 0, header.blockSize);
      while (have < want && !first) {
        u64 length = want - have < header.blockSize ? want - have : header.blockSize;
        first =
            file->WriteAt(pad.buffer, static_cast<u32>(have), static_cast<u32>(length), nullptr);
        have += length;
      }
    }
    if (!first) changed = false;
  }
  ErrorCode error = file->Flush();
  if (!first) first = error;
  return lastError = first;
}

void CBFHP::SetRoot(u32 value) {
  if (value != header.rootValue) {
    headerModified = true;
    changed = true;
  }
  header.rootValue = value;
}

u32 CBFHP::GetRoot() { return header.rootValue; }
