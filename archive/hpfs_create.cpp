#include "archive/hpfs_create.h"

#include <cstring>

#include "file/bfhp.h"

ErrorCode CreateHpfsStore(CFile* file, u32 blockSize, u32 rootHeaderSize, u32 maxBlocks) {
  if (!file || blockSize < kHpfsCreateMinBlockSize || maxBlocks < 2) return ERR_BADPARAMS;
  if (CheckHpfsGeometry(blockSize, rootHeaderSize)) return ERR_BADPARAMS;
  u8* block = static_cast<u8*>(g_ptrPool->Alloc(blockSize));
  if (!block) return ERR_NOTENOUGHMEM;
  std::memset(block, 0, blockSize);
  HpfsHeader header = {};
  header.magic = kHpfsMagic;
  header.blockSize = blockSize;
  header.blockCount = 1;
  header.maxBlocks = maxBlocks;
  header.rootHeaderSize = rootHeaderSize;
  EncodeHpfsHeader(header, block);
  ErrorCode error = file->WriteAt(block, 0, blockSize, nullptr);
  g_ptrPool->Free(block);
  if (!error) error = file->Seek(static_cast<i32>(blockSize), SEEK_FROM_START);
  if (!error) error = file->Truncate();
  return error;
}

namespace {

constexpr u32 kPathCapacity = 1024;
constexpr u32 kChunkSize = 64 * 1024;
// Deeper than any real tree; stops a source whose directories contain themselves.
constexpr u32 kMaxImportDepth = 128;

struct Import {
  CFileService* source;
  CHPFS* target;
  HpfsImportProgress progress;
  void* context;
  char* sourcePath;
  char* targetPath;
  u8* chunk;
  char sourceSeparator;
};

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Appends separator and name (just the name to an empty path or one ending in a separator).
bool AppendName(char* path, u32 length, const char* name, char separatorChar = '\\') {
  u32 nameLength = static_cast<u32>(std::strlen(name));
  bool separator = length > 0 && !IsSeparator(path[length - 1]);
  if (length + separator + nameLength + 1 > kPathCapacity) return false;
  if (separator) path[length++] = separatorChar;
  std::memcpy(path + length, name, nameLength + 1);
  return true;
}

ErrorCode EnsureDirectory(CHPFS* target, const char* path) {
  char prefix[kPathCapacity];
  u32 length = static_cast<u32>(std::strlen(path));
  if (length >= kPathCapacity) return ERR_BADPARAMS;
  std::memcpy(prefix, path, length + 1);
  for (u32 end = 0; end <= length; ++end) {
    if (end < length && !IsSeparator(prefix[end])) continue;
    u32 start = end;
    while (start > 0 && !IsSeparator(prefix[start - 1])) --start;
    if (start == end) continue;
    char saved = prefix[end];
    prefix[end] = 0;
    ErrorCode error = nullptr;
    if (!target->Exists(prefix)) {
      char name[kPathCapacity];
      std::memcpy(name, prefix + start, end - start + 1);
      prefix[start > 0 ? start - 1 : 0] = 0;
      error = target->CreateDir(prefix, name);
      if (start > 0) prefix[start - 1] = '\\';
      std::memcpy(prefix + start, name, end - start);
    }
    prefix[end] = saved;
    if (error) return error;
  }
  return nullptr;
}

ErrorCode CopyFile(Import& run) {
  ErrorCode error = nullptr;
  CFile* in = run.source->Open(run.sourcePath, OPEN_READ | OPEN_SHARE_READ, &error);
  if (!in) return error ? error : ERR_OPENFAIL;
  CFile* out = run.target->Open(run.targetPath, OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
  if (!out) {
    delete in;
    return error ? error : ERR_OPENFAIL;
  }
  u32 total = 0;
  for (;;) {
    u32 done = 0;
    error = in->Read(run.chunk, kChunkSize, &done);
    if (error == ERR_EOF) error = nullptr;
    if (error || done == 0) break;
    error = out->Write(run.chunk, done, nullptr);
    if (error) break;
    total += done;
    if (done < kChunkSize) break;
  }
  if (!error && total != in->GetSize()) error = ERR_READFAIL;
  delete out;
  delete in;
  if (!error && run.progress) run.progress(run.context, run.targetPath, total);
  return error;
}

ErrorCode Walk(Import& run, u32 depth) {
  if (depth > kMaxImportDepth) return ERR_OUTOFRANGE;
  u32 sourceLength = static_cast<u32>(std::strlen(run.sourcePath));
  u32 targetLength = static_cast<u32>(std::strlen(run.targetPath));
  FindRecord record = {};
  ErrorCode listing = run.source->FindFirst(&record, run.sourcePath);
  // An empty directory answers NOMOREFILES (the pack: NOTFOUND); a missing top is an error.
  bool empty = listing == ERR_NOMOREFILES || (listing == ERR_NOTFOUND && depth > 0);
  if (listing && !empty) {
    run.source->FindClose(&record);
    return listing;
  }
  ErrorCode error = nullptr;
  for (; !listing && !error; listing = run.source->FindNext(&record)) {
    const char* name = record.name;
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
    if (!AppendName(run.sourcePath, sourceLength, name, run.sourceSeparator) ||
        !AppendName(run.targetPath, targetLength, name)) {
      error = ERR_BADPARAMS;
      break;
    }
    if (record.attributes & ATTR_DIRECTORY) {
      if (!run.target->Exists(run.targetPath)) {
        char saved = run.targetPath[targetLength];
        run.targetPath[targetLength] = 0;
        error = run.target->CreateDir(run.targetPath, name);
        run.targetPath[targetLength] = saved;
      }
      if (!error) error = Walk(run, depth + 1);
    } else {
      error = CopyFile(run);
    }
    run.sourcePath[sourceLength] = 0;
    run.targetPath[targetLength] = 0;
  }
  run.source->FindClose(&record);
  return error;
}

}  // namespace

ErrorCode ImportTree(CFileService* source, const char* sourceDir, CHPFS* target,
                     const char* targetDir, HpfsImportProgress progress, void* context,
                     char sourceSeparator) {
  if (!source || !sourceDir || !target || !targetDir) return ERR_BADPARAMS;
  if (std::strlen(sourceDir) >= kPathCapacity || std::strlen(targetDir) >= kPathCapacity)
    return ERR_BADPARAMS;
  ErrorCode error = EnsureDirectory(target, targetDir);
  if (error) return error;
  Import run = {source, target, progress, context, nullptr, nullptr, nullptr, sourceSeparator};
  run.sourcePath = static_cast<char*>(g_ptrPool->Alloc(kPathCapacity));
  run.targetPath = static_cast<char*>(g_ptrPool->Alloc(kPathCapacity));
  run.chunk = static_cast<u8*>(g_ptrPool->Alloc(kChunkSize));
  if (run.sourcePath && run.targetPath && run.chunk) {
    std::strcpy(run.sourcePath, sourceDir);
    std::strcpy(run.targetPath, targetDir);
    error = Walk(run, 0);
  } else {
    error = ERR_NOTENOUGHMEM;
  }
  if (run.chunk) g_ptrPool->Free(run.chunk);
  if (run.targetPath) g_ptrPool->Free(run.targetPath);
  if (run.sourcePath) g_ptrPool->Free(run.sourcePath);
  return error;
}
