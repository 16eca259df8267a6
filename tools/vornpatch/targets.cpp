// The built-in target kinds: a patch executable (stub followed by its payload), a bare LZSS
// container and a pack.
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/file_window.h"
#include "archive/lzss_file.h"
#include "archive/pack_format.h"
#include "archive/pack_fs.h"
#include "archive/pack_verify.h"
#include "archive/payload_bounds.h"
#include "commands.h"
#include "container_check.h"
#include "counting_file.h"
#include "messages.h"
#include "progress.h"

namespace {

constexpr u32 kVerifyMessageSize = 512;

bool ReadPrefix(CFile* file, void* buffer, u32 size) {
  return file->GetSize() >= size && !file->ReadAt(buffer, 0, size, nullptr);
}

bool CheckPack(CFile* pack, Progress* progress, std::string* fault) {
  CountingFile counted(pack, progress);
  char message[kVerifyMessageSize] = {0};
  ErrorCode error = VerifyPack(&counted, message, sizeof(message));
  if (!error) return true;
  *fault = message[0] ? message : DescribeError(error);
  return false;
}

u32 ReadLittle32(const u8* p) {
  return static_cast<u32>(p[0]) | (static_cast<u32>(p[1]) << 8) | (static_cast<u32>(p[2]) << 16) |
         (static_cast<u32>(p[3]) << 24);
}

// The structure of a pack that is to be listed or extracted, checked as verify checks it, and
// its members' CRC-32 values for extract to hold the written bytes to.
class PackDirectory {
 public:
  // "" when the directory is sound, else what is wrong with it.
  std::string Check(CFile* pack) {
    char message[kVerifyMessageSize] = {0};
    ErrorCode error = CheckPackDirectory(pack, message, sizeof message, &layout_);
    if (!error) {
      crcs_.resize(4 * static_cast<size_t>(layout_.count));
      if (!crcs_.empty())
        error = pack->ReadAt(crcs_.data(), layout_.crcTableOffset, static_cast<u32>(crcs_.size()),
                             nullptr);
      if (error) return "cannot read the CRC table: " + DescribeError(error);
      return std::string();
    }
    return message[0] ? message : DescribeError(error);
  }

  bool MemberCrc(CPackFS* service, const std::string& name, u32* crc) const {
    char found[kPackMaxNameLength + 1];
    u32 index = 0;
    // Names are unique and sort before every longer name, so the first one beginning with the
    // name is the member itself, and its position is the one of its CRC.
    if (!service || !service->Index()->FindPrefix(name.c_str(), found, &index) || name != found ||
        index >= layout_.count)
      return false;
    *crc = ReadLittle32(crcs_.data() + 4 * static_cast<size_t>(index));
    return true;
  }

 private:
  PackLayout layout_;
  std::vector<u8> crcs_;
};

// A pack read straight from the file.
class PackTarget : public Target {
 public:
  PackTarget(CPackFS* service, const PackDirectory& directory)
      : service_(service), directory_(directory) {}
  ~PackTarget() override { delete service_; }

  const char* Kind() const override { return "pack"; }
  CFileService* Service() override { return service_; }
  bool MemberCrc(const std::string& full, u32* crc) override {
    return directory_.MemberCrc(service_, full, crc);
  }
  u64 VerifyWork() override { return service_->PackFile()->GetSize(); }
  bool Verify(Progress* progress, std::string* fault, std::string* summary) override {
    if (!CheckPack(service_->PackFile(), progress, fault)) return false;
    *summary = "pack of " + std::to_string(service_->PackFile()->GetSize()) + " bytes";
    return true;
  }

 private:
  CPackFS* service_;
  PackDirectory directory_;
};

// An LZSS container, bare or behind a patch executable's image, usually holding a pack.
class ContainerTarget : public Target {
 public:
  // The target owns the container and the service (null when no pack is mounted; `noPack`
  // says why). `payload` is null for a bare container.
  ContainerTarget(const char* kind, CLzssFile* container, CPackFS* service,
                  const PackDirectory& directory, const std::string& noPack,
                  const PayloadBounds* payload)
      : kind_(kind),
        container_(container),
        service_(service),
        directory_(directory),
        noPack_(noPack) {
    if (payload) payload_ = *payload;
  }
  ~ContainerTarget() override {
    delete service_;
    delete container_;
  }

  const char* Kind() const override { return kind_; }
  CFileService* Service() override { return service_; }
  std::string WhyNoTree() const override { return noPack_; }
  bool MemberCrc(const std::string& full, u32* crc) override {
    return directory_.MemberCrc(service_, full, crc);
  }
  u64 VerifyWork() override {
    return ContainerCheckWork(container_) + (noPack_.empty() ? container_->GetSize() : 0) +
           (payload_.sealed ? payload_.end - payload_.offset : 0);
  }
  bool Verify(Progress* progress, std::string* fault, std::string* summary) override {
    std::string blocks;
    if (!CheckContainer(container_, progress, fault, &blocks)) return false;
    *summary = blocks;
    if (IsPatch()) {
      *summary = "payload at offset " + std::to_string(payload_.offset) + "; " + blocks;
    }
    if (!noPack_.empty()) {
      // A patch must carry a pack; a bare container may hold any data.
      if (IsPatch() || !notAPack_) {
        *fault = noPack_;
        return false;
      }
      *summary += "; the data are not a pack and were not checked further";
      return true;
    }
    if (!CheckPack(container_, progress, fault)) {
      *fault = "the pack inside the container: " + *fault;
      return false;
    }
    if (IsPatch() && !service_->Exists("PATCH.INI")) {
      *fault = "the payload's pack has no member PATCH.INI, which the patcher reads first";
      return false;
    }
    *summary += "; pack of " + std::to_string(container_->GetSize()) + " bytes";
    return !IsPatch() || CheckPayloadWhole(progress, fault, summary);
  }

  bool notAPack_ = false;  // the data are readable and simply not a pack

 private:
  // A patch's container always follows the stub's image, so offset 0 means a bare container.
  bool IsPatch() const { return payload_.offset != 0; }

  // The seal's CRC-32 over the whole payload, and what the signature and the seal tell.
  bool CheckPayloadWhole(Progress* progress, std::string* fault, std::string* summary) {
    const u32 length = payload_.end - payload_.offset;
    if (payload_.sealed) {
      u32 crc = 0;
      ErrorCode error = PayloadCrc(container_->baseFile, 0, length, &crc);
      if (progress) progress->Advance(length);
      if (error) {
        *fault = "the sealed payload cannot be read: " + DescribeError(error);
        return false;
      }
      if (crc != payload_.sealCrc) {
        *fault = Hex("the payload's CRC-32 is ", crc) +
                 Hex(", but its seal gives ", payload_.sealCrc) + ": stored bytes were changed";
        return false;
      }
      *summary +=
          "; sealed: " + std::to_string(length) + " bytes" + Hex(", CRC-32 ", crc) + " holds";
    } else {
      *summary += "; not sealed: the payload cannot be checked as a whole";
    }
    if (payload_.certificateOffset) {
      *summary += "; signed: the certificate table (" + std::to_string(payload_.certificateSize) +
                  " bytes at offset " + std::to_string(payload_.certificateOffset) +
                  ") is not part of the payload, which ends at offset " +
                  std::to_string(payload_.end);
    }
    return true;
  }

  static std::string Hex(const char* text, u32 value) {
    char digits[16];
    std::snprintf(digits, sizeof(digits), "0x%08X", value);
    return text + std::string(digits);
  }

  const char* kind_;
  CLzssFile* container_;
  CPackFS* service_;
  PackDirectory directory_;
  std::string noPack_;
  PayloadBounds payload_;  // all zero for a bare container
};

// Opens the container on `base` (owned by the container) and mounts the pack it holds. Faults
// past the header are left for Verify to pin down block by block.
OpenOutcome OpenContainer(const char* kind, CFile* base, const PayloadBounds* payload,
                          Target** target, std::string* fault) {
  CLzssFile* container = new (std::nothrow) CLzssFile(base, 1);
  if (!container) {
    delete base;
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  if (!container->isOpen) {
    const u32 blockSize = container->BlockSize();
    *fault = blockSize == 0 || blockSize > CLzssFile::kMaxBlockSize
                 ? "the block size " + std::to_string(blockSize) + " is not one from 1 to " +
                       std::to_string(CLzssFile::kMaxBlockSize) + " that readers accept"
                 : "the container header or block table cannot be read";
    delete container;
    return OpenOutcome::kBroken;
  }
  std::string noPack;
  bool notAPack = false;
  char magic[kPackMagicSize];
  ErrorCode error = nullptr;
  if (!CheckContainerTable(container, &noPack)) {
    noPack = "the container: " + noPack;
  } else if (container->GetSize() < kPackMagicSize) {
    notAPack = true;
  } else if ((error = container->ReadAt(magic, 0, kPackMagicSize, nullptr)) != nullptr) {
    noPack = "the start of the container's data cannot be read: " + DescribeError(error);
  } else {
    notAPack = std::memcmp(magic, kPackMagic, kPackMagicSize) != 0;
  }
  if (notAPack) {
    noPack = payload ? std::string("the payload does not hold a pack")
                     : "the container holds " + std::to_string(container->GetSize()) +
                           " bytes of data that are not a pack";
  }
  // The pack service reads the container through a window that it may own and destroy; the
  // container itself stays with the target, so Verify can still check its blocks when the
  // mount fails.
  CPackFS* service = nullptr;
  PackDirectory directory;
  if (noPack.empty()) {
    const std::string damage = directory.Check(container);
    if (!damage.empty()) noPack = "the pack inside: " + damage;
  }
  if (noPack.empty()) {
    CFileWindow* view = new (std::nothrow) CFileWindow(container, 0, CFileWindow::kToEnd, 0);
    service = view ? new (std::nothrow) CPackFS() : nullptr;
    error = service ? service->Mount(view) : ERR_NOTENOUGHMEM;
    if (!service) delete view;
    if (error) {
      noPack = "the pack inside cannot be mounted: " + DescribeError(error);
      delete service;
      service = nullptr;
    }
  }
  ContainerTarget* made =
      new (std::nothrow) ContainerTarget(kind, container, service, directory, noPack, payload);
  if (!made) {
    delete service;
    delete container;
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  made->notAPack_ = notAPack;
  *target = made;
  return OpenOutcome::kOpened;
}

OpenOutcome OpenPatchExecutable(const char*, CFile* file, Target** target, std::string* fault) {
  char magic[2];
  if (!ReadPrefix(file, magic, 2) || std::memcmp(magic, "MZ", 2) != 0) return OpenOutcome::kNotMine;
  PayloadBounds payload;
  ErrorCode error = LocatePayload(file, &payload);
  if (error == ERR_NOTFOUND) {
    *fault = "no payload found (no LZSS container with block size 32768 behind the image)";
  } else if (error == ERR_EOF && !payload.sealed) {
    *fault = "the payload is cut short: the file ends inside its container header";
  } else if (error == ERR_EOF) {
    *fault = "the payload is cut short: its seal gives a container of " +
             std::to_string(payload.end - payload.offset) + " bytes at offset " +
             std::to_string(payload.offset) + ", but the file ends at " +
             std::to_string(file->GetSize());
  } else if (error == ERR_BADFILEFORMAT) {
    *fault = "the container at offset " + std::to_string(payload.offset) +
             " is marked as sealed, but no sound seal record lies in front of it";
  } else if (error) {
    *fault = "cannot scan for the payload: " + DescribeError(error);
  }
  if (error) return OpenOutcome::kBroken;
  CFileWindow* window =
      new (std::nothrow) CFileWindow(file, payload.offset, payload.end - payload.offset, 0);
  if (!window) {
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  return OpenContainer("patch executable", window, &payload, target, fault);
}

OpenOutcome OpenBareContainer(const char*, CFile* file, Target** target, std::string* fault) {
  char magic[4];
  if (!ReadPrefix(file, magic, 4) || std::memcmp(magic, "LZSS", 4) != 0)
    return OpenOutcome::kNotMine;
  // The window keeps the caller's disk file out of the container's ownership.
  CFileWindow* window = new (std::nothrow) CFileWindow(file, 0, CFileWindow::kToEnd, 0);
  if (!window) {
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  return OpenContainer("LZSS container", window, nullptr, target, fault);
}

OpenOutcome OpenPack(const char*, CFile* file, Target** target, std::string* fault) {
  char magic[kPackMagicSize];
  if (!ReadPrefix(file, magic, kPackMagicSize) ||
      std::memcmp(magic, kPackMagic, kPackMagicSize) != 0) {
    return OpenOutcome::kNotMine;
  }
  PackDirectory directory;
  *fault = directory.Check(file);
  if (!fault->empty()) return OpenOutcome::kBroken;
  CFileWindow* window = new (std::nothrow) CFileWindow(file, 0, CFileWindow::kToEnd, 0);
  CPackFS* service = new (std::nothrow) CPackFS();
  if (!window || !service) {
    delete window;
    delete service;
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  ErrorCode error = service->Mount(window);
  if (error) {
    delete service;
    *fault = "the directory cannot be read: " + DescribeError(error);
    return OpenOutcome::kBroken;
  }
  *target = new (std::nothrow) PackTarget(service, directory);
  if (!*target) {
    delete service;
    *fault = "out of memory";
    return OpenOutcome::kBroken;
  }
  return OpenOutcome::kOpened;
}

}  // namespace

VORNPATCH_TARGET_KIND(100, "patch executable", OpenPatchExecutable);
VORNPATCH_TARGET_KIND(200, "LZSS container", OpenBareContainer);
VORNPATCH_TARGET_KIND(300, "pack", OpenPack);
