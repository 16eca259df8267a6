// Making HPFS stores: an empty store in a file, and a directory tree copied into a store.
#pragma once

#include "archive/hpfs.h"

// Writes the header and block 0 of an empty store, which CBFHP::Attach then accepts. blockSize
// and rootHeaderSize are multiples of 4 with 8 <= rootHeaderSize <= blockSize - 4 and
// 64 <= blockSize <= 1 MiB; maxBlocks (at least 2) caps the number of blocks, block 0 included.
// The file is written from position 0 and cut behind block 0.
ErrorCode CreateHpfsStore(CFile* emptyFile, u32 blockSize, u32 rootHeaderSize, u32 maxBlocks);

constexpr u32 kHpfsCreateMinBlockSize = 64;
constexpr u32 kHpfsDefaultBlockSize = 4096;
constexpr u32 kHpfsDefaultRootHeaderSize = 32;
constexpr u32 kHpfsDefaultMaxBlocks = 0x7FFFFFFFu;

// Called once per file copied, with its path inside the store and its size in bytes.
typedef void (*HpfsImportProgress)(void* context, const char* path, u32 size);

// Copies the tree below sourceDir of any file service into targetDir of the store (created
// when missing; "" is the root). Files are streamed in chunks, so memory use does not depend on
// their size. Existing directories are merged; existing files are replaced.
// sourceSeparator joins the source service's paths ('/' for the disk service on POSIX hosts).
ErrorCode ImportTree(CFileService* source, const char* sourceDir, CHPFS* target,
                     const char* targetDir, HpfsImportProgress progress = nullptr,
                     void* context = nullptr, char sourceSeparator = '\\');
