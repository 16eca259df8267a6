// A handle pool whose blocks live in one file of the HPFS block format. The file is a sequence
// of fixed-size blocks; block 0 starts with the header. A handle is the number of its root
// block, which holds the handle's size, the depth of its index tree and an array of block
// numbers; free blocks form a list that is kept inside free blocks themselves.
#pragma once

#include "file/file.h"
#include "file/file_handle_pool.h"

constexpr u32 kHpfsMagic = 0x53465048u;  // "HPFS" read little-endian
constexpr u32 kHpfsHeaderSize = 32;
constexpr int kHpfsMaxDepth = 5;
// Limits that a store must keep to be accepted. The header must fit into block 0, and a root
// block must hold its size and depth words and at least one pointer.
constexpr u32 kHpfsMinBlockSize = 32;
constexpr u32 kHpfsMaxBlockSize = 1u << 20;
constexpr u32 kHpfsMinRootHeaderSize = 8;

struct HpfsHeader {
  u32 magic;
  u32 blockSize;
  u32 blockCount;
  u32 maxBlocks;
  u32 freeCount;
  u32 freeListBlock;
  u32 rootHeaderSize;
  u32 rootValue;
};

void EncodeHpfsHeader(const HpfsHeader& header, u8* bytes);  // 32 bytes
void DecodeHpfsHeader(const u8* bytes, HpfsHeader* header);
// Null when a block size and root header size describe a usable store, else INVALIDFORMAT.
ErrorCode CheckHpfsGeometry(u32 blockSize, u32 rootHeaderSize);

class CBFHP : public CFileHandlePool {
  VORN_DECLARE_CLASS(CBFHP, CHandlePool, CLASS_CBFHP)

 public:
  explicit CBFHP(CPtrPool* nodePool = nullptr, u32 ownsNodePool = 0);
  ~CBFHP() override;

  // Reads and checks the header. On success the pool owns the file; on failure the caller still
  // does.
  ErrorCode Attach(CFile* file);

  PoolHandle Alloc(u32 size) override;
  PoolHandle Realloc(PoolHandle handle, u32 size) override;
  ErrorCode Free(PoolHandle handle) override;
  u32 Size(PoolHandle handle) override;
  ErrorCode ReadHandle(PoolHandle handle, void* buffer, u32 offset, u32 count) override;
  ErrorCode WriteHandle(PoolHandle handle, const void* buffer, u32 offset, u32 count) override;
  ErrorCode Flush() override;
  void SetRoot(u32 value) override;
  u32 GetRoot() override;

  // Inspection for tools and tests.
  const HpfsHeader& Header() const { return header; }
  CFile* File() const { return file; }
  // Depth of a handle's index tree, or -1 when the handle is not valid.
  int Depth(PoolHandle handle);

 private:
  struct Slot {
    u8* buffer;
    u16 flags;
    u32 block;
  };
  enum : u16 { kSlotModified = 1 };
  enum { kSlotCount = 7, kFreeListSlot = 0, kRootSlot = 1 };

  bool ValidBlock(u64 block) const;
  ErrorCode LoadSlot(int slot, u32 block, bool read);
  void MarkModified(int slot);
  void ForgetBlock(u32 block);
  void ReleaseBuffers();

  ErrorCode LoadRoot(PoolHandle handle);
  u32 RootSize() const;
  void SetRootSize(u32 size);
  void SetRootDepth(int newDepth);
  u64 Capacity(int atDepth) const;  // data blocks a tree of that depth can address

  u32 Entry(int level) const;  // the entry that the path selects at a level
  void SetEntry(int level, u32 value);
  ErrorCode LoadLevelsBelow(int level);
  ErrorCode Locate(u32 byte);
  ErrorCode Advance();
  ErrorCode CurrentDataBlock(u32* block) const;

  ErrorCode TakeBlock(u32* block);
  ErrorCode ReleaseBlock(u32 block);
  u64 AvailableBlocks() const;
  u64 IndexBlocksFor(u64 dataBlocks, int atDepth) const;

  ErrorCode Shrink(u64 blocks);
  ErrorCode AddDataBlock();
  PoolHandle GrowOrUndo(PoolHandle handle, u32 oldSize, u64 oldBlocks, u64 newBlocks);
  ErrorCode Transfer(PoolHandle handle, u8* buffer, const u8* source, u32 offset, u32 count);

  CFile* file = nullptr;
  HpfsHeader header = {};
  bool headerModified = false;
  bool changed = false;  // anything written since Attach (Flush then pads the file)
  u32 wordsPerBlock = 0;
  u32 rootPointers = 0;
  u32 rootFirstWord = 0;
  u64 blockLimit = 0;  // block numbers stay below this, so block positions fit 32 bits
  Slot* slots;
  u8* buffers = nullptr;

  // The current path: the depth of the handle whose root is in the root slot and one digit per
  // level (digit 0 indexes the root's pointers).
  int depth = 0;
  u32 digits[kHpfsMaxDepth + 1] = {};
};
