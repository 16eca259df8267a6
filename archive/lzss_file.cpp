#include "archive/lzss_file.h"

#include <cstring>

#include "core/pools.h"

// The container's integers are little-endian, as are all the targets; the block table is read and
// written as it lies in memory.
static_assert(sizeof(u32) == 4, "table entries are 32-bit");

namespace {

// MoveData cuts the count to the end of the file; a count of 2 GiB - 1 would leave the rest
// of a larger container unmoved.
constexpr u32 kMoveEverything = 0xFFFFFFFFu;
constexpr u32 kMoveChunk = 0x8000u;

u32 LoadLe32(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

void StoreLe32(u8* p, u32 value) {
  p[0] = static_cast<u8>(value);
  p[1] = static_cast<u8>(value >> 8);
  p[2] = static_cast<u8>(value >> 16);
  p[3] = static_cast<u8>(value >> 24);
}

// Work buffer size for a block size: the block plus the worst growth of coding (9 bits per
// literal), so a block can be decoded in place from coded bytes at the buffer's back.
// 0 for a block size that no reader accepts.
u32 WorkSizeFor(u32 blockSize) {
  if (blockSize == 0 || blockSize > CLzssFile::kMaxBlockSize) return 0;
  return blockSize + blockSize / 8 + 2;
}

void EncodeHeader(u8* header, u32 length, u32 blockSize, u8 method, u8 spare) {
  StoreLe32(header, CLzssFile::kMagic);
  StoreLe32(header + 4, length);
  StoreLe32(header + 8, blockSize);
  header[12] = method;
  header[13] = spare;
}

}  // namespace

CLzssFile::CLzssFile(CFile* base, u32 owns) : CFile(base, owns) {
  if (!base) return;
  base->Seek(0, SEEK_FROM_START);
  u8 header[kHeaderSize];
  if (base->ReadAt(header, 0, kHeaderSize, nullptr)) return;
  if (LoadLe32(header) != kMagic) return;
  length = LoadLe32(header + 4);
  blockSize = LoadLe32(header + 8);
  method = header[12];
  spare = header[13];
  // A block size of 0 leaves the block count undefined.
  workSize = WorkSizeFor(blockSize);
  if (workSize == 0) return;
  const u32 count = BlockCountFor(length);
  // The table must lie inside the container; refusing early also keeps a corrupt length from
  // asking for a table larger than the file.
  const u32 baseSize = base->GetSize();
  if (kHeaderSize + 4 * static_cast<u64>(count) > baseSize) return;
  work = static_cast<u8*>(g_ptrPool->Alloc(workSize));
  if (!work) return;
  if (ResizeTable(count)) return;
  if (base->ReadAt(table, kHeaderSize, 4 * count, nullptr)) return;
  table[count] = baseSize;
  isOpen = 1;
}

CLzssFile::~CLzssFile() {
  if (isOpen) Flush();
  if (table) g_ptrPool->Free(table);
  if (work) g_ptrPool->Free(work);
  if (ahead) g_ptrPool->Free(ahead);
}

u32 CLzssFile::BlockCountFor(u32 streamLength) const {
  return streamLength == 0 ? 1 : (streamLength - 1) / blockSize + 1;
}

u32 CLzssFile::RawLength(u32 index) const {
  if (index + 1 < blockCount) return blockSize;
  // Clamped so that a block count set out of step with the length never claims more than a block.
  u64 rest = static_cast<u64>(length) - static_cast<u64>(blockSize) * index;
  if (static_cast<u64>(length) < static_cast<u64>(blockSize) * index) return 0;
  return rest > blockSize ? blockSize : static_cast<u32>(rest);
}

ErrorCode CLzssFile::Read(void* buffer, u32 size, u32* done) {
  if (done) *done = 0;
  if (!isOpen) return ERR_INVALIDFORMAT;
  if (position > length) return ERR_EOF;
  if (static_cast<u64>(position) + size > length) {
    if (!done) return ERR_EOF;
    size = length - position;
  }
  u8* out = static_cast<u8*>(buffer);
  while (size > 0) {
    const u32 block = position / blockSize;
    const u32 offset = position % blockSize;
    if (block != currentBlock) {
      ErrorCode error = SelectBlock(block, 1);
      if (error) return error;
    }
    const u32 chunk = size < blockSize - offset ? size : blockSize - offset;
    std::memcpy(out, work + offset, chunk);
    out += chunk;
    size -= chunk;
    position += chunk;
    if (done) *done += chunk;
  }
  return nullptr;
}

ErrorCode CLzssFile::Write(const void* buffer, u32 size, u32* done) {
  if (done) *done = 0;
  if (!isOpen) return ERR_INVALIDFORMAT;
  const u64 end = static_cast<u64>(position) + size;
  if (end > 0xFFFFFFFFu) return ERR_OUTOFRANGE;
  if (end > length) {
    ErrorCode error = SetLength(static_cast<u32>(end));
    if (error) return error;
  }
  const u8* in = static_cast<const u8*>(buffer);
  while (size > 0) {
    const u32 block = position / blockSize;
    const u32 offset = position % blockSize;
    if (block != currentBlock) {
      const u32 load = offset != 0 || size < blockSize ? 1 : 0;
      ErrorCode error = SelectBlock(block, load);
      if (error) return error;
    }
    const u32 chunk = size < blockSize - offset ? size : blockSize - offset;
    std::memcpy(work + offset, in, chunk);
    blockDirty = 1;
    in += chunk;
    size -= chunk;
    position += chunk;
    if (done) *done += chunk;
  }
  return nullptr;
}

ErrorCode CLzssFile::Seek(i32 distance, u16 origin) {
  if (!isOpen) return ERR_INVALIDFORMAT;
  switch (origin) {
    case SEEK_FROM_START:
      // A position, unsigned like every position: ReadAt and WriteAt reach 2 GiB and beyond.
      position = static_cast<u32>(distance);
      break;
    case SEEK_FROM_CURRENT:
      position += static_cast<u32>(distance);
      break;
    case SEEK_FROM_END:
      position = length + static_cast<u32>(distance);
      break;
    default:
      break;
  }
  return nullptr;
}

ErrorCode CLzssFile::Flush() {
  if (!isOpen) return ERR_INVALIDFORMAT;
  ErrorCode error = SelectBlock(currentBlock, 0);
  if (error) return error;
  return headerDirty ? WriteHeaderAndTable() : nullptr;
}

ErrorCode CLzssFile::WriteHeaderAndTable() {
  DropReadAhead();
  const u32 tableStart = kHeaderSize + 4 * blockCount;
  if (!TableIsOrdered()) return ERR_INVALIDFORMAT;
  if (table[0] != tableStart) {
    // The table changed size: the stored blocks move to sit right behind it.
    ErrorCode error =
        baseFile->MoveData(tableStart, table[0], kMoveEverything, kMoveChunk, nullptr);
    if (error) return error;
    const u32 delta = tableStart - table[0];
    for (u32 i = 0; i <= blockCount; ++i) table[i] += delta;
    error = baseFile->Seek(static_cast<i32>(table[blockCount]), SEEK_FROM_START);
    if (!error) error = baseFile->Truncate();
    if (error) return error;
  }
  u8 header[kHeaderSize];
  EncodeHeader(header, length, blockSize, method, spare);
  ErrorCode error = baseFile->WriteAt(header, 0, kHeaderSize, nullptr);
  if (!error) error = baseFile->WriteAt(table, kHeaderSize, 4 * blockCount, nullptr);
  if (error) return error;
  headerDirty = 0;
  return nullptr;
}

// Moving the blocks behind a rewritten one, or cutting the file behind the last block, is only
// sound when the blocks lie in order behind the header: in a corrupt table that overlaps them,
// it would overwrite or cut off other blocks' bytes. Reading needs no such check.
bool CLzssFile::TableIsOrdered() const {
  if (table[0] < kHeaderSize) return false;
  for (u32 i = 0; i < blockCount; ++i) {
    if (table[i] > table[i + 1]) return false;
  }
  return true;
}

ErrorCode CLzssFile::SetBlockCount(u32 count) {
  if (!isOpen) return ERR_INVALIDFORMAT;
  if (count == 0) return ERR_BADPARAMS;
  if (count == blockCount) return nullptr;
  ErrorCode error = ResizeTable(count);
  if (error) return error;
  headerDirty = 1;
  return nullptr;
}

ErrorCode CLzssFile::ResizeTable(u32 count) {
  if (count == blockCount) return nullptr;
  const u64 capacity = (static_cast<u64>(count) / 16 + 1) * 16;
  if (capacity * 4 > 0xFFFFFFFFu) return ERR_NOTENOUGHMEM;
  if (capacity != tableCapacity) {
    const u32 bytes = static_cast<u32>(capacity * 4);
    void* grown = table ? g_ptrPool->Realloc(table, bytes) : g_ptrPool->Alloc(bytes);
    if (!grown) return ERR_NOTENOUGHMEM;
    table = static_cast<u32*>(grown);
    tableCapacity = static_cast<u32>(capacity);
  }
  if (blockCount == 0) table[0] = kHeaderSize + 4;
  // New blocks are empty: stored length 0, read as zeros.
  while (blockCount < count) {
    table[blockCount + 1] = table[blockCount];
    ++blockCount;
  }
  blockCount = count;
  if (currentBlock != kNoBlock && currentBlock >= blockCount) {
    currentBlock = kNoBlock;
    blockDirty = 0;
  }
  return nullptr;
}

ErrorCode CLzssFile::SetLength(u32 newLength) {
  if (!isOpen) return ERR_INVALIDFORMAT;
  if (newLength == length) return nullptr;
  const u32 newCount = BlockCountFor(newLength);
  const bool growing = newLength > length;
  if (!growing && !TableIsOrdered()) return ERR_INVALIDFORMAT;
  // Growing: the old last block's zero tail becomes data. Shrinking: the block that becomes the
  // last one is loaded so that it is stored again with its shorter length.
  ErrorCode error = SelectBlock(growing ? blockCount - 1 : newCount - 1, 1);
  if (error) return error;
  error = ResizeTable(newCount);
  if (error) return error;
  length = newLength;
  blockDirty = 1;
  headerDirty = 1;
  if (growing) return nullptr;
  DropReadAhead();
  error = baseFile->Seek(static_cast<i32>(table[blockCount]), SEEK_FROM_START);
  if (!error) error = baseFile->Truncate();
  return error;
}

ErrorCode CLzssFile::SelectBlock(u32 index, u32 load) {
  if (!isOpen) return ERR_INVALIDFORMAT;
  if (index == kNoBlock ? load != 0 : index >= blockCount) return ERR_INDEXOUTOFRANGE;
  if (currentBlock != kNoBlock && blockDirty) {
    ErrorCode error = StoreCurrentBlock();
    if (error) return error;
  }
  if (load) {
    // The work buffer is overwritten from here on: until the load succeeds no block is current.
    currentBlock = kNoBlock;
    ErrorCode error = LoadBlockData(index);
    if (error) return error;
  }
  currentBlock = index;
  return nullptr;
}

ErrorCode CLzssFile::StoreCurrentBlock() {
  DropReadAhead();
  const u32 rawLength = RawLength(currentBlock);
  const u32 start = table[currentBlock];
  const u32 next = table[currentBlock + 1];
  if (!TableIsOrdered()) return ERR_INVALIDFORMAT;
  u8* coded = encoder ? static_cast<u8*>(g_ptrPool->Alloc(workSize)) : nullptr;
  if (encoder && !coded) return ERR_NOTENOUGHMEM;
  u32 codedLength = workSize;
  const u8* data = work;
  u32 stored = rawLength;
  // Any coder failure leaves the block raw: the coded form only saves space.
  if (coded && !encoder(work, rawLength, coded, &codedLength, method, nullptr) &&
      codedLength < rawLength) {
    data = coded;
    stored = codedLength;
  }
  ErrorCode error = nullptr;
  if (start + stored != next) {
    error = baseFile->MoveData(start + stored, next, kMoveEverything, kMoveChunk, nullptr);
    if (!error) {
      const u32 delta = start + stored - next;
      for (u32 i = currentBlock + 1; i <= blockCount; ++i) table[i] += delta;
      headerDirty = 1;
      if (start + stored < next) {
        error = baseFile->Seek(static_cast<i32>(table[blockCount]), SEEK_FROM_START);
        if (!error) error = baseFile->Truncate();
      }
    }
  }
  if (!error && stored) error = baseFile->WriteAt(data, start, stored, nullptr);
  if (coded) g_ptrPool->Free(coded);
  if (error) return error;
  blockDirty = 0;
  return nullptr;
}

const u8* CLzssFile::ReadAhead(u32 index, u32 start, u32 size) {
  const u64 end = u64{start} + size;
  const bool held = aheadLength && start >= aheadStart && end <= u64{aheadStart} + aheadLength;
  const bool follows = lastLoaded != kNoBlock && index == lastLoaded + 1;
  lastLoaded = index;
  if (held) return ahead + (start - aheadStart);
  // Random access reads only what it needs, straight into the work buffer.
  if (!follows || size > kReadAheadSize) return nullptr;
  if (!ahead) {
    ahead = static_cast<u8*>(g_ptrPool->Alloc(kReadAheadSize));
    if (!ahead) return nullptr;
  }
  // Up to the end of the stored blocks, and never less than this block's bytes.
  const u32 dataEnd = table[blockCount];
  u32 fill = dataEnd > start && dataEnd - start < kReadAheadSize ? dataEnd - start : kReadAheadSize;
  if (fill < size) fill = size;
  aheadLength = 0;
  if (baseFile->ReadAt(ahead, start, fill, nullptr)) return nullptr;
  aheadStart = start;
  aheadLength = fill;
  return ahead;
}

ErrorCode CLzssFile::LoadBlockData(u32 index) {
  const u32 start = table[index];
  const u32 stored = table[index + 1] - start;
  const u32 rawLength = RawLength(index);
  u32 loaded = 0;
  if (stored >= rawLength) {
    // Entries that decrease, or a container cut before its last block, land here too.
    if (stored > blockSize) return ERR_INVALIDFORMAT;
    if (rawLength) {
      if (const u8* bytes = ReadAhead(index, start, rawLength)) {
        std::memcpy(work, bytes, rawLength);
      } else {
        ErrorCode error = baseFile->ReadAt(work, start, rawLength, nullptr);
        if (error) return error;
      }
    }
    loaded = rawLength;
  } else if (stored) {
    // The front is cleared first so that skipped bytes read the same whichever block was held
    // before.
    ErrorCode error = nullptr;
    if (const u8* coded = ReadAhead(index, start, stored)) {
      std::memset(work, 0, blockSize);
      error = LzssDecodeBlock(coded, stored, work, blockSize, &loaded, method);
    } else {
      // Decoded in place: coded bytes at the back, output growing from the front.
      u8* back = work + workSize - stored;
      std::memset(work, 0, workSize - stored);
      error = baseFile->ReadAt(back, start, stored, nullptr);
      if (!error) error = LzssDecodeBlock(back, stored, work, blockSize, &loaded, method);
    }
    if (error) return error;
    // Output past the raw length lies beyond the stream and must read as zeros if it grows.
    if (loaded > rawLength) loaded = rawLength;
  }
  std::memset(work + loaded, 0, blockSize - loaded);
  return nullptr;
}

ErrorCode CLzssFile::CreateContainer(CFile* emptyBase, u32 blockSize, u8 method, u8 spare) {
  if (!emptyBase || WorkSizeFor(blockSize) == 0) return ERR_BADPARAMS;
  if (!LzssMethodValid(method)) return ERR_NOSUCHBITLENGTHS;
  u8 bytes[kHeaderSize + 4];
  EncodeHeader(bytes, 0, blockSize, method, spare);
  StoreLe32(bytes + kHeaderSize, kHeaderSize + 4);
  ErrorCode error = emptyBase->WriteAt(bytes, 0, sizeof bytes, nullptr);
  if (!error) error = emptyBase->Seek(sizeof bytes, SEEK_FROM_START);
  if (!error) error = emptyBase->Truncate();
  return error;
}
