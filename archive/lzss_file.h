// A compressed container presented as a random-access file. The container cuts the data into
// blocks of one fixed size, codes each block on its own (archive/lzss_codec.h) and stores the
// coded blocks one after the other behind a table of their positions:
//   0  "LZSS"   4  uncompressed length   8  block size   12  method byte   13  spare byte
//   14 table of N u32 block positions, then the stored blocks without gaps.
// The last block's stored bytes run to the end of the base file. A block whose stored length S is
// at least its raw length R is stored raw; S < R means coded, and S = 0 a block of zeros.
// No bound is put on how far the stored bytes expand: an empty block stands for a block of zeros,
// and the optimal coder stores every all-zero block so (a 64 MiB file of zeros builds into a
// 28 KB patch), so 256 KiB of table may rightly decode to 2 GiB. What a reader takes out is
// bounded by the pack inside (archive/pack_verify.h), not by the container.
// Exactly one decoded block is held at a time; a changed block is coded again when another block
// is selected or on Flush, and the stored blocks behind it move to fit. Blocks loaded one after
// the other are read from the base file kReadAheadSize bytes at a time.
#pragma once

#include "archive/lzss_codec.h"
#include "file/file.h"

class CLzssFile : public CFile {
  VORN_DECLARE_CLASS(CLzssFile, CFile, CLASS_CLZSSFILE)

 public:
  static constexpr u32 kMagic = 0x53535A4Cu;  // "LZSS" read as a little-endian word
  static constexpr u32 kHeaderSize = 14;
  static constexpr u32 kNoBlock = 0xFFFFFFFFu;
  static constexpr u32 kReadAheadSize = 0x40000;
  // Largest block size a container may have. A reader holds one decoded block (plus an eighth)
  // in memory, so the header's block size decides what opening a container costs: a few bytes
  // of header must not make a reader allocate gigabytes. The tool writes at most this, and the
  // patcher's payload uses 32 KiB blocks.
  static constexpr u32 kMaxBlockSize = 16u << 20;

  // Opens the container; isOpen tells whether the stream is usable (not for a block size of 0 or
  // above kMaxBlockSize). Every operation of an unusable stream but destruction answers
  // INVALIDFORMAT.
  CLzssFile(CFile* base, u32 ownsBase);
  ~CLzssFile() override;

  ErrorCode Read(void* buffer, u32 size, u32* done) override;
  ErrorCode Write(const void* buffer, u32 size, u32* done) override;
  ErrorCode Seek(i32 distance, u16 origin) override;
  u32 GetSize() override { return isOpen ? length : 0; }
  u32 GetPosition() override { return position; }
  ErrorCode Flush() override;
  ErrorCode Truncate() override { return SetLength(position); }

  virtual ErrorCode SetBlockCount(u32 count);
  virtual ErrorCode SetLength(u32 newLength);
  // Stores the current block when it is dirty, then makes block index current, decoding it when
  // load is 1 (with load 0 the work buffer's bytes become the block's contents).
  virtual ErrorCode SelectBlock(u32 index, u32 load);

  // The coder used to store changed blocks. Without one they are stored raw: a program that only
  // reads containers (the patcher) then links no coder.
  void SetEncoder(LzssBlockEncoder coder) { encoder = coder; }

  // Writes the header and table of an empty container (length 0, one empty block) at the start
  // of emptyBase, so that a CLzssFile opened on it can be written. A block size of 0 or above
  // kMaxBlockSize: BADPARAMS.
  static ErrorCode CreateContainer(CFile* emptyBase, u32 blockSize, u8 method, u8 spare = 0);

  u32 BlockSize() const { return blockSize; }
  u8 Method() const { return method; }
  u8 Spare() const { return spare; }
  u32 BlockCount() const { return blockCount; }
  // Entry i of the block table, i <= BlockCount(); entry BlockCount() is the end of the data.
  u32 BlockOffset(u32 i) const { return table && i <= blockCount ? table[i] : 0; }
  u32 CurrentBlock() const { return currentBlock; }

 private:
  u32 BlockCountFor(u32 streamLength) const;
  u32 RawLength(u32 index) const;
  ErrorCode StoreCurrentBlock();
  ErrorCode LoadBlockData(u32 index);
  // The stored bytes [start, start + size) from the read-ahead buffer, refilled from start when
  // block index follows the one loaded last; nullptr when they must be read in place.
  const u8* ReadAhead(u32 index, u32 start, u32 size);
  // After a write the next load reads only its own block: a stream being rewritten block by
  // block would otherwise read ahead for every block and drop it at the next store.
  void DropReadAhead() {
    aheadLength = 0;
    lastLoaded = kNoBlock;
  }
  ErrorCode WriteHeaderAndTable();
  bool TableIsOrdered() const;
  // Grows or shrinks the table to count entries without marking the header dirty.
  ErrorCode ResizeTable(u32 count);

  u32 length = 0;
  u32 blockSize = 0;
  u8 method = 0;
  u8 spare = 0;
  u32 headerDirty = 0;
  u32* table = nullptr;
  u32 tableCapacity = 0;
  u32 blockCount = 0;
  u32 currentBlock = kNoBlock;
  u32 blockDirty = 0;
  u32 workSize = 0;
  u8* work = nullptr;
  u32 position = 0;
  u32 lastLoaded = kNoBlock;
  u8* ahead = nullptr;  // base file bytes [aheadStart, aheadStart + aheadLength)
  u32 aheadStart = 0;
  u32 aheadLength = 0;
  LzssBlockEncoder encoder = nullptr;
};
