#include "support/hpfs_store.h"

#include <gtest/gtest.h>

#include "core/byte_order.h"

std::vector<u8> EmptyHpfsBytes(u32 blockSize, u32 rootHeaderSize, u32 maxBlocks) {
  std::vector<u8> bytes(blockSize, 0);
  HpfsHeader header = {kHpfsMagic, blockSize, 1, maxBlocks, 0, 0, rootHeaderSize, 0};
  EncodeHpfsHeader(header, bytes.data());
  return bytes;
}

std::unique_ptr<CBFHP> AttachHpfs(std::vector<u8> bytes, MemoryFile** file) {
  auto* memory = new MemoryFile(std::move(bytes));
  std::unique_ptr<CBFHP> pool(new CBFHP());
  ErrorCode error = pool->Attach(memory);
  EXPECT_EQ(error, nullptr) << ErrorText(error);
  if (error) {
    delete memory;
    return nullptr;
  }
  if (file) *file = memory;
  return pool;
}

u32 LoadLe32(const std::vector<u8>& bytes, size_t at) { return LoadLittleEndian32(&bytes[at]); }

void StoreLe32(std::vector<u8>& bytes, size_t at, u32 value) {
  StoreLittleEndian32(&bytes[at], value);
}

std::vector<u8> Pattern(u32 seed, u32 size) {
  std::vector<u8> bytes(size);
  for (u32 i = 0; i < size; ++i)
    bytes[i] = static_cast<u8>(((i + 1) * 2654435761u ^ (seed * 40503u + 17)) >> 13);
  return bytes;
}
