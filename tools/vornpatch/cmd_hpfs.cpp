// vornpatch hpfs create DIR -o FILE: makes an HPFS store (optionally inside an LZSS container)
// from a folder; and the HPFS target kinds, so that list, extract and verify read such stores,
// plain or wrapped in an LZSS container.
#include <cstring>
#include <new>
#include <string>

#include "archive/hpfs.h"
#include "archive/hpfs_create.h"
#include "archive/hpfs_verify.h"
#include "archive/lzss_file.h"
#include "coding.h"
#include "commands.h"
#include "container_check.h"
#include "container_write.h"
#include "copy.h"
#include "file/bfhp.h"
#include "messages.h"
#include "output.h"
#include "progress.h"
#include "tree.h"

namespace {

// A file the caller keeps, seen through a view that the store may own and destroy. A read-only
// view refuses every change, so listing or checking a store never writes to it (a store without
// a root directory gets one in memory only).
class BorrowedFile : public CFile {
 public:
  BorrowedFile(CFile* inner, bool writable)
      : CFile(nullptr, 0), inner_(inner), writable_(writable) {
    isOpen = 1;
    openFlags = inner->openFlags;
  }
  ErrorCode Read(void* buffer, u32 size, u32* done) override {
    return inner_->Read(buffer, size, done);
  }
  ErrorCode Write(const void* buffer, u32 size, u32* done) override {
    if (!writable_) {
      if (done) *done = 0;
      return ERR_WRITEPROTECTED;
    }
    return inner_->Write(buffer, size, done);
  }
  ErrorCode Seek(i32 offset, u16 origin) override { return inner_->Seek(offset, origin); }
  u32 GetSize() override { return inner_->GetSize(); }
  u32 GetPosition() override { return inner_->GetPosition(); }
  ErrorCode Flush() override { return writable_ ? inner_->Flush() : nullptr; }
  ErrorCode Truncate() override { return writable_ ? inner_->Truncate() : ERR_WRITEPROTECTED; }

 private:
  CFile* inner_;
  bool writable_;
};

const OptionSpec kOptions[] = {{"output", 'o', true},    {"block-size", 0, true},
                               {"root-header", 0, true}, {"max-blocks", 0, true},
                               {"lzss", 0, false},       {"method", 0, true},
                               {nullptr, 0, false}};

constexpr u32 kContainerBlockSize = 32768;

struct ImportCount {
  Progress* progress;
  u32 files;
};

void CountImported(void* context, const char*, u32 size) {
  auto* count = static_cast<ImportCount*>(context);
  ++count->files;
  count->progress->Advance(size);
}

// Builds the store from `folder` into `file` (empty, written from 0).
int BuildStore(const std::string& folder, CFile* file, const std::string& name, u32 blockSize,
               u32 rootHeader, u32 maxBlocks, u32* files) {
  ErrorCode error = CreateHpfsStore(file, blockSize, rootHeader, maxBlocks);
  if (error) return ReportError(name, "cannot write the store header", error);
  CBFHP* pool = new (std::nothrow) CBFHP();
  BorrowedFile* view = new (std::nothrow) BorrowedFile(file, true);
  if (!pool || !view || (error = pool->Attach(view)) != nullptr) {
    delete view;
    delete pool;
    return ReportError(name, "cannot open the new store", error ? error : ERR_NOTENOUGHMEM);
  }
  CHPFS* store = new (std::nothrow) CHPFS(pool);
  if (!store) {
    delete pool;
    return ReportError(name, "cannot open the new store", ERR_NOTENOUGHMEM);
  }
  if (store->RootHandle() == 0) {
    delete store;
    return ReportFault(name, "the store has no room for its root directory");
  }
  const char* rest = folder.c_str();
  CFileService* disk = ResolvePath(&rest);
  Progress progress("storing", 0);
  ImportCount count = {&progress, 0};
  error = disk ? ImportTree(disk, rest, store, "", CountImported, &count, kDiskSeparator)
               : ERR_PATHNOTFOUND;
  progress.Clear();
  *files = count.files;
  if (error) {
    delete store;
    return ReportError(folder, "cannot store the folder", error);
  }
  error = pool->Flush();
  // The block file may have given back blocks at its end; the file ends with its last block.
  u32 end = pool->Header().blockCount * pool->Header().blockSize;
  delete store;
  if (error) return ReportError(name, "cannot write the store", error);
  error = file->Seek(static_cast<i32>(end), SEEK_FROM_START);
  if (!error) error = file->Truncate();
  if (error) return ReportError(name, "cannot cut the store", error);
  return kExitOk;
}

bool ReadNumber(const Args& args, const char* option, u32* value, std::string* problem) {
  const char* text = args.Value(option);
  if (!text) return true;
  if (ParseNumber(text, value)) return true;
  *problem = std::string("invalid --") + option + " '" + text + "'";
  return false;
}

int RunHpfs(const Args& args) {
  if (args.positional[0] != "create") {
    return UsageError("hpfs", "unknown action '" + args.positional[0] + "' (use create)");
  }
  const std::string folder = args.positional[1];
  const char* out = args.Value("output");
  if (!out) return UsageError("hpfs", "missing -o FILE");
  u32 blockSize = kHpfsDefaultBlockSize;
  u32 rootHeader = kHpfsDefaultRootHeaderSize;
  u32 maxBlocks = kHpfsDefaultMaxBlocks;
  std::string problem;
  if (!ReadNumber(args, "block-size", &blockSize, &problem) ||
      !ReadNumber(args, "root-header", &rootHeader, &problem) ||
      !ReadNumber(args, "max-blocks", &maxBlocks, &problem)) {
    return UsageError("hpfs", problem);
  }
  if (blockSize < kHpfsCreateMinBlockSize || blockSize > kHpfsMaxBlockSize || blockSize % 4) {
    return UsageError("hpfs", "the block size must be a multiple of 4 from " +
                                  std::to_string(kHpfsCreateMinBlockSize) + " to " +
                                  std::to_string(kHpfsMaxBlockSize));
  }
  if (CheckHpfsGeometry(blockSize, rootHeader)) {
    return UsageError("hpfs", "the root header size must be a multiple of 4 from 8 to " +
                                  std::to_string(blockSize - 4));
  }
  if (maxBlocks < 2) return UsageError("hpfs", "--max-blocks must be at least 2");
  const bool lzss = args.Has("lzss");
  if (!lzss && args.Has("method")) return UsageError("hpfs", "--method needs --lzss");
  Coding coding;
  if (lzss) {
    if (int status = ChooseCoding("hpfs", args, &coding)) return status;
  }

  u32 files = 0;
  if (!lzss) {
    OutputFile output(out);
    int status = output.Create();
    if (!status) {
      status = BuildStore(folder, output.File(), out, blockSize, rootHeader, maxBlocks, &files);
    }
    if (!status) status = output.Commit();
    return status;
  }

  // The store is built beside the result and then coded into the container.
  OutputFile store(std::string(out) + ".store");
  int status = store.Create();
  if (!status) {
    status = BuildStore(folder, store.File(), out, blockSize, rootHeader, maxBlocks, &files);
  }
  if (status) return status;
  CFile* plain = store.File();
  const u32 size = plain->GetSize();
  ErrorCode error = plain->Seek(0, SEEK_FROM_START);
  if (error) return ReportError(out, "cannot read the store back", error);
  OutputFile output(out);
  status = output.Create();
  CLzssFile* container = nullptr;
  if (!status) {
    container = CreateContainerAt(output.File(), 0, kContainerBlockSize, coding, out);
    if (!container) status = kExitFailure;
  }
  if (!status && (error = Presize(container, size)) != nullptr) {
    status = ReportError(out, "cannot size the container", error);
  }
  if (!status) {
    Progress progress("compressing", size);
    CopyResult copy = CopyBytes(plain, container, size, &progress);
    progress.Clear();
    if (copy.error || copy.sourceShort) {
      status = ReportError(out, "cannot code the store", copy.error ? copy.error : ERR_READFAIL);
    }
  }
  status = EndContainer(status, container, output.File(), 0, out);
  if (!status) status = output.Commit();
  return status;
}

// ---------------------------------------------------------------------------------------------
// Targets.

class HpfsTarget : public Target {
 public:
  // Owns the file system (and through it the block file and its view) and the container, if
  // any; `store` is the file the store's bytes are read from.
  HpfsTarget(const char* kind, CHPFS* service, CFile* store, CLzssFile* container)
      : kind_(kind), service_(service), store_(store), container_(container) {}
  ~HpfsTarget() override {
    delete service_;
    delete container_;
  }

  const char* Kind() const override { return kind_; }
  CFileService* Service() override { return service_; }
  u64 VerifyWork() override { return container_ ? ContainerCheckWork(container_) : 0; }
  bool Verify(Progress* progress, std::string* fault, std::string* summary) override {
    std::string blocks;
    if (container_ && !CheckContainer(container_, progress, fault, &blocks)) return false;
    char message[256] = {0};
    u32 files = 0, directories = 0;
    u64 bytes = 0;
    ErrorCode error =
        VerifyHpfsStore(store_, message, sizeof message, &files, &directories, &bytes);
    if (error) {
      *fault = message[0] ? std::string("the store: ") + message : DescribeError(error);
      return false;
    }
    *summary = (blocks.empty() ? std::string() : blocks + "; ") + std::to_string(files) +
               " files in " + std::to_string(directories) + " directories, " +
               std::to_string(bytes) + " bytes";
    return true;
  }

 private:
  const char* kind_;
  CHPFS* service_;
  CFile* store_;
  CLzssFile* container_;
};

bool HasMagic(CFile* file, const char* magic) {
  char bytes[4];
  return file->GetSize() >= 4 && !file->ReadAt(bytes, 0, 4, nullptr) &&
         std::memcmp(bytes, magic, 4) == 0;
}

// Mounts the store held in `store` (which stays with the caller) read-only.
OpenOutcome MountStore(const char* kind, CFile* store, CLzssFile* container, Target** target,
                       std::string* fault) {
  CBFHP* pool = new (std::nothrow) CBFHP();
  BorrowedFile* view = new (std::nothrow) BorrowedFile(store, false);
  ErrorCode error = pool && view ? pool->Attach(view) : ERR_NOTENOUGHMEM;
  if (error) {
    delete view;
    delete pool;
    delete container;
    *fault = "the store's header is not usable: " + DescribeError(error);
    return OpenOutcome::kBroken;
  }
  CHPFS* service = new (std::nothrow) CHPFS(pool);
  HpfsTarget* made =
      service ? new (std::nothrow) HpfsTarget(kind, service, store, container) : nullptr;
  if (!made) {
    if (service) {
      delete service;
    } else {
      delete pool;
    }
    delete container;
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  *target = made;
  return OpenOutcome::kOpened;
}

OpenOutcome OpenHpfs(const char*, CFile* file, Target** target, std::string* fault) {
  if (!HasMagic(file, "HPFS")) return OpenOutcome::kNotMine;
  return MountStore("HPFS store", file, nullptr, target, fault);
}

// Asked before the plain LZSS container kind: takes only containers whose data is a store.
OpenOutcome OpenWrappedHpfs(const char*, CFile* file, Target** target, std::string* fault) {
  if (!HasMagic(file, "LZSS")) return OpenOutcome::kNotMine;
  BorrowedFile* view = new (std::nothrow) BorrowedFile(file, false);
  CLzssFile* container = view ? new (std::nothrow) CLzssFile(view, 1) : nullptr;
  if (!container) {
    delete view;
    return OpenOutcome::kNotMine;
  }
  if (!container->isOpen || !HasMagic(container, "HPFS")) {
    delete container;
    return OpenOutcome::kNotMine;  // the container kind reports what it holds
  }
  return MountStore("HPFS store in an LZSS container", container, container, target, fault);
}

}  // namespace

VORNPATCH_COMMAND(hpfs, "make an HPFS store from a folder",
                  "Usage: vornpatch hpfs create DIR -o FILE [options]\n"
                  "\n"
                  "Stores the tree below DIR in a new HPFS block file FILE (the format of the\n"
                  "game's localisation pack). list, extract and verify read such stores, plain\n"
                  "or inside an LZSS container.\n"
                  "\n"
                  "Options:\n"
                  "  -o, --output FILE    the store to write (replaced when complete)\n"
                  "  --block-size N       bytes per block, a multiple of 4 from 64 to 1048576\n"
                  "                       (default 4096)\n"
                  "  --root-header N      bytes before a root block's pointers, a multiple of 4\n"
                  "                       from 8 to block size - 4 (default 32)\n"
                  "  --max-blocks N       most blocks the store may ever hold (default\n"
                  "                       0x7FFFFFFF, no practical limit)\n"
                  "  --lzss               wrap the store in an LZSS container (32768-byte blocks)\n"
                  "  --method M           the container's coding method (with --lzss)\n",
                  kOptions, 2, 2, RunHpfs);

VORNPATCH_TARGET_KIND(150, "HPFS store in an LZSS container", OpenWrappedHpfs);
VORNPATCH_TARGET_KIND(400, "HPFS store", OpenHpfs);
