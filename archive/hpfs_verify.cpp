#include "archive/hpfs_verify.h"

#include <cstring>

#include "archive/hpfs.h"
#include "core/error_message.h"
#include "file/bfhp.h"

namespace {

u32 Word(const u8* p) {
  return static_cast<u32>(p[0]) | static_cast<u32>(p[1]) << 8 | static_cast<u32>(p[2]) << 16 |
         static_cast<u32>(p[3]) << 24;
}

class Checker {
 public:
  Checker(CFile* store, char* text, u32 textSize) : file(store), message{text, textSize} {}
  ~Checker() {
    if (owner) g_ptrPool->Free(owner);
    if (block) g_ptrPool->Free(block);
    if (entries) g_ptrPool->Free(entries);
  }

  ErrorCode Run(u32* fileCount, u32* directoryCount, u64* byteCount);

 private:
  ErrorCode ReadBlock(u32 number, u8* into) {
    ErrorCode error = file->ReadAt(into, number * header.blockSize, header.blockSize, nullptr);
    if (error) message.Fail(ERR_INVALIDFORMAT, "block %u cannot be read", number);
    return error;
  }
  ErrorCode Claim(u32 number, u32 handle) {
    if (number == 0 || number >= header.blockCount)
      return message.Fail(ERR_INVALIDFORMAT, "handle %u names block %u, outside the store", handle,
                          number);
    if (owner[number])
      return message.Fail(ERR_INVALIDFORMAT, "block %u is used twice (again by handle %u)", number,
                          handle);
    owner[number] = 1;
    return nullptr;
  }
  ErrorCode Tree(u32 handle, u32 number, int level, int depth, u64* left, u64* dataBlocks);
  ErrorCode Handle(u32 handle, u32* size);
  ErrorCode Directory(u32 handle, int nesting);
  ErrorCode FreeList();

  CFile* file;
  ErrorMessage message;
  HpfsHeader header = {};
  u8* owner = nullptr;  // one byte per block: claimed or not
  u8* block = nullptr;  // scratch block per tree level
  u8* entries = nullptr;
  u32 files = 0;
  u32 directories = 0;
  u64 bytes = 0;
  // The data blocks of the handle being read, collected by Tree when asked.
  u8* collect = nullptr;
  u32 collected = 0;
};

ErrorCode Checker::Tree(u32 handle, u32 number, int level, int depth, u64* left, u64* dataBlocks) {
  if (*left == 0) return nullptr;
  ErrorCode error = Claim(number, handle);
  if (error) return error;
  if (level == depth) {
    --*left;
    if (collect) {
      error = ReadBlock(number, collect + static_cast<size_t>(collected) * header.blockSize);
      if (error) return error;
      ++collected;
    }
    ++*dataBlocks;
    return nullptr;
  }
  u8* index = block + static_cast<size_t>(level) * header.blockSize;
  error = ReadBlock(number, index);
  if (error) return error;
  for (u32 i = 0; i < header.blockSize / 4 && *left > 0; ++i) {
    error = Tree(handle, Word(index + 4 * i), level + 1, depth, left, dataBlocks);
    if (error) return error;
  }
  return nullptr;
}

ErrorCode Checker::Handle(u32 handle, u32* size) {
  ErrorCode error = Claim(handle, handle);
  if (error) return error;
  u8* root = block + static_cast<size_t>(kHpfsMaxDepth + 1) * header.blockSize;
  error = ReadBlock(handle, root);
  if (error) return error;
  *size = Word(root);
  int depth = static_cast<i16>(root[4] | root[5] << 8);
  if (depth < 0 || depth > kHpfsMaxDepth)
    return message.Fail(ERR_INVALIDFORMAT, "handle %u has an index tree of depth %u", handle,
                        static_cast<u32>(depth));
  u64 blocks = (*size + u64{header.blockSize} - 1) / header.blockSize;
  u64 capacity = (header.blockSize - header.rootHeaderSize) / 4;
  for (int i = 0; i < depth; ++i) capacity *= header.blockSize / 4;
  if (blocks > capacity || blocks >= header.blockCount)
    return message.Fail(ERR_INVALIDFORMAT,
                        "handle %u holds %u bytes, more than its tree can address", handle, *size);
  u64 left = blocks, dataBlocks = 0;
  for (u32 i = 0; i < (header.blockSize - header.rootHeaderSize) / 4 && left > 0; ++i) {
    u32 number = Word(root + header.rootHeaderSize + 4 * i);
    error = Tree(handle, number, 0, depth, &left, &dataBlocks);
    if (error) return error;
  }
  return nullptr;
}

ErrorCode Checker::Directory(u32 handle, int nesting) {
  if (nesting > 256)
    return message.Fail(ERR_INVALIDFORMAT, "directories nested deeper than 256 levels");
  ++directories;
  // Read the directory's bytes: its data blocks in order.
  u32 size = 0;
  u8* saved = collect;
  u32 savedCount = collected;
  u32 peek = 0;
  {
    // Size first, without claiming: the claim happens in Handle below.
    u8 root[8];
    if (handle == 0 || handle >= header.blockCount)
      return message.Fail(ERR_INVALIDFORMAT, "a directory names handle %u, outside the store",
                          handle);
    ErrorCode error = file->ReadAt(root, handle * header.blockSize, 8, nullptr);
    if (error) return message.Fail(ERR_INVALIDFORMAT, "block %u cannot be read", handle);
    peek = Word(root);
  }
  u64 blocks = (peek + u64{header.blockSize} - 1) / header.blockSize;
  if (blocks >= header.blockCount)
    return message.Fail(ERR_INVALIDFORMAT,
                        "handle %u holds %u bytes, more than its tree can address", handle, peek);
  u8* content = static_cast<u8*>(g_ptrPool->Alloc(static_cast<u32>(blocks * header.blockSize) + 1));
  if (!content) return ERR_NOTENOUGHMEM;
  collect = content;
  collected = 0;
  ErrorCode error = Handle(handle, &size);
  collect = saved;
  collected = savedCount;
  for (u32 at = 0; !error && at < size;) {
    if (size - at < kHpfsEntryHeaderSize) {
      error = message.Fail(ERR_INVALIDFORMAT, "directory %u ends inside an entry at offset %u",
                           handle, at);
      break;
    }
    u32 child = Word(content + at);
    u16 flags = static_cast<u16>(content[at + 4] | content[at + 5] << 8);
    u16 length = static_cast<u16>(content[at + 6] | content[at + 7] << 8);
    if (size - at - kHpfsEntryHeaderSize < length) {
      error = message.Fail(ERR_INVALIDFORMAT,
                           "directory %u: the entry at offset %u runs past its end", handle, at);
      break;
    }
    if (length == 0) {
      error = message.Fail(ERR_INVALIDFORMAT, "directory %u: the entry at offset %u has no name",
                           handle, at);
      break;
    }
    if (flags & HPFS_ENTRY_DIRECTORY) {
      error = Directory(child, nesting + 1);
    } else {
      u32 fileSize = 0;
      error = Handle(child, &fileSize);
      ++files;
      bytes += fileSize;
    }
    at += kHpfsEntryHeaderSize + length;
  }
  g_ptrPool->Free(content);
  return error;
}

ErrorCode Checker::FreeList() {
  u32 left = header.freeCount;
  u32 list = header.freeListBlock;
  u32 w = header.blockSize / 4;
  u8* words = block;
  while (left > 0) {
    if (list == 0 || list >= header.blockCount)
      return message.Fail(ERR_INVALIDFORMAT, "the free list names block %u, outside the store",
                          list);
    if (owner[list])
      return message.Fail(ERR_INVALIDFORMAT, "free block %u is also in use or listed twice", list);
    owner[list] = 1;
    ErrorCode error = ReadBlock(list, words);
    if (error) return error;
    u32 p = (left - 1) % w;
    for (u32 i = 1; i <= p; ++i) {
      u32 number = Word(words + 4 * i);
      if (number == 0 || number >= header.blockCount)
        return message.Fail(ERR_INVALIDFORMAT, "the free list names block %u, outside the store",
                            number);
      if (owner[number])
        return message.Fail(ERR_INVALIDFORMAT, "free block %u is also in use or listed twice",
                            number);
      owner[number] = 1;
    }
    left -= p + 1;
    list = Word(words);
  }
  return nullptr;
}

ErrorCode Checker::Run(u32* fileCount, u32* directoryCount, u64* byteCount) {
  u8 raw[kHpfsHeaderSize];
  ErrorCode error = file->ReadAt(raw, 0, kHpfsHeaderSize, nullptr);
  if (error) {
    message.Fail(ERR_INVALIDFORMAT, "the header cannot be read");
    return error;
  }
  DecodeHpfsHeader(raw, &header);
  if (header.magic != kHpfsMagic) return message.Fail(ERR_INVALIDFORMAT, "no HPFS magic");
  if (CheckHpfsGeometry(header.blockSize, header.rootHeaderSize))
    return message.Fail(ERR_INVALIDFORMAT,
                        "block size %u with a root header of %u bytes is not a usable geometry",
                        header.blockSize, header.rootHeaderSize);
  u64 fileBlocks = (u64{file->GetSize()} + header.blockSize - 1) / header.blockSize;
  if (header.blockCount == 0 || header.blockCount > fileBlocks ||
      u64{header.blockCount} * header.blockSize > 0xFFFFFFFFu)
    return message.Fail(ERR_INVALIDFORMAT, "the header counts %u blocks; the file holds %u",
                        header.blockCount, static_cast<u32>(fileBlocks));
  if (header.blockCount > header.maxBlocks)
    return message.Fail(ERR_INVALIDFORMAT, "the header counts %u blocks, above its limit of %u",
                        header.blockCount, header.maxBlocks);
  if (header.freeCount >= header.blockCount)
    return message.Fail(ERR_INVALIDFORMAT, "the free list claims %u of %u blocks", header.freeCount,
                        header.blockCount);
  owner = static_cast<u8*>(g_ptrPool->Alloc(header.blockCount));
  block = static_cast<u8*>(g_ptrPool->Alloc((kHpfsMaxDepth + 2) * header.blockSize));
  if (!owner || !block) return ERR_NOTENOUGHMEM;
  std::memset(owner, 0, header.blockCount);
  owner[0] = 1;
  if (header.rootValue != 0) {
    error = Directory(header.rootValue, 0);
    if (error) return error;
    --directories;  // the root is not counted as a directory of its own
  }
  error = FreeList();
  if (error) return error;
  for (u32 n = 1; n < header.blockCount; ++n) {
    if (!owner[n]) return message.Fail(ERR_INVALIDFORMAT, "block %u is neither used nor free", n);
  }
  if (fileCount) *fileCount = files;
  if (directoryCount) *directoryCount = directories;
  if (byteCount) *byteCount = bytes;
  if (message.text && message.size) message.text[0] = 0;
  return nullptr;
}

}  // namespace

ErrorCode VerifyHpfsStore(CFile* store, char* message, u32 messageSize, u32* files,
                          u32* directories, u64* bytes) {
  if (!store) return ERR_BADPARAMS;
  Checker checker(store, message, messageSize);
  return checker.Run(files, directories, bytes);
}
