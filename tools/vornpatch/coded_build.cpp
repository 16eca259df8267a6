#include "coded_build.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "archive/pack_writer.h"
#include "archive/tarn_encode.h"
#include "archive/tarn_format.h"
#include "commands.h"
#include "copy.h"
#include "core/crc32.h"
#include "core/pools.h"
#include "file/file_service.h"
#include "messages.h"
#include "progress.h"

namespace {

// The coder holds its input and 8 bytes per position it can reach back (a file alone), or the
// pair with at most 48 MiB of chains and under 1/2 byte per old position (a delta): larger files
// are copied whole rather than take gigabytes.
constexpr u64 kMaxAloneBytes = 512u << 20;
constexpr u64 kMaxPairBytes = 256u << 20;
// A delta this much smaller than the file is not worth coding the file alone as well to compare.
constexpr u32 kClearDeltaShare = 8;
constexpr size_t kMostNamesWarned = 20;
constexpr u32 kDepth = 12;
constexpr u32 kNiceLength = 48;

// A Tarn stream in a block of the pointer pool.
struct Coded {
  u8* bytes = nullptr;
  u32 size = 0;
  Coded() = default;
  ~Coded() { g_ptrPool->Free(bytes); }
  Coded(const Coded&) = delete;
  Coded& operator=(const Coded&) = delete;
  void Take(Coded* other) {
    std::swap(bytes, other->bytes);
    std::swap(size, other->size);
  }
};

bool LooksLikeCode(const u8* data, u32 size) {
  const bool windows = data[0] == 'M' && data[1] == 'Z';
  return size > 64 && (windows || (data[0] == 0x7f && std::memcmp(data + 1, "ELF", 3) == 0));
}

// Order-0 entropy says whether a small file is worth a place in a solid group: compressed
// files (images, archives) are not, and would only slow the group's decoding.
bool LooksCompressible(const std::vector<u8>& data) {
  if (data.size() < 256) return true;
  u32 counts[256] = {};
  for (u8 byte : data) ++counts[byte];
  double bits = 0;
  const double total = static_cast<double>(data.size());
  for (u32 count : counts) {
    if (count) bits -= count * std::log2(count / total);
  }
  return bits / 8 < 0.97 * total;
}

u8 WindowFor(u64 size, u8 cap) {
  u8 log = kTarnMinWindowLog;
  while (log < cap && (1ull << log) < size) ++log;
  return log;
}

// What a solid group holds, in the order groups are made: each kind is coded its own way.
enum class Kind : u8 {
  kData,
  kPacked,  // bytes that look compressed already: only copies within the group shrink them
  kCode,    // programs, coded with the x86 filter
};

TarnEncodeOptions CoderOptions(u64 size, u8 windowCap, bool fast) {
  TarnEncodeOptions options;
  options.windowLog = WindowFor(size, windowCap);
  // Over large groups a deeper search finds little more and costs much CPU.
  options.depth = fast ? 8 : kDepth;
  options.niceLength = fast ? 32 : kNiceLength;
  // The trees find the deep search's matches for the chains' CPU; the quick search stays cheaper
  // on the chains.
  options.binaryTree = !fast;
  return options;
}

class Planner {
 public:
  Planner(SourceSet* set, const CodedBuildOptions& options, CFile* spool,
          const std::string& spoolName, CodedBuildFigures* figures)
      : set_(set), options_(options), spool_(spool), spoolName_(spoolName), figures_(figures) {}

  int Run() {
    Progress progress("coding", set_->totalBytes);
    progress_ = &progress;
    std::vector<SourceFile> sources;
    sources.swap(set_->files);
    for (const SourceFile& source : sources) {
      std::string path;
      if (RootOf(source.member, &path) != MemberRoot::kFiles) {
        set_->files.push_back(source);
      } else {
        // Small files are counted when their group is coded.
        const size_t small = small_.size();
        if (int status = PlanFile(source, path)) return status;
        if (small_.size() == small) progress.Advance(source.size);
      }
    }
    if (int status = PlanSolid()) return status;
    progress.Clear();
    WarnRemoved();
    set_->totalBytes = 0;
    for (const SourceFile& file : set_->files) set_->totalBytes += file.size;
    std::sort(set_->files.begin(), set_->files.end(), [](const SourceFile& a, const SourceFile& b) {
      return PackCompareNames(a.member.c_str(), b.member.c_str()) < 0;
    });
    return kExitOk;
  }

 private:
  int Read(const std::string& diskPath, u64 size, std::vector<u8>* data, size_t at) {
    ErrorCode error = nullptr;
    CFile* file = FileServiceTable.Open(diskPath.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
    if (!file) return ReportError(diskPath, "cannot open the file", error ? error : ERR_OPENFAIL);
    u64 actual = file->GetSize();
    FileSize64(file, &actual);
    data->resize(at + size);
    error = size ? file->Read(data->data() + at, static_cast<u32>(size), nullptr) : nullptr;
    delete file;
    if (actual != size) return ReportFault(diskPath, "the file changed size while it was coded");
    if (error) return ReportError(diskPath, "cannot read the file", error);
    return kExitOk;
  }

  // group: a solid group's stream, which may reach back farther than a coded member's.
  int Encode(const std::vector<u8>& data, u32 dictionary, Kind kind, bool group, Coded* out) {
    // In compressed bytes the coder finds little but long copies, which a short search finds.
    TarnEncodeOptions options =
        CoderOptions(data.size() - dictionary, group ? kSolidMaxWindowLog : kCodedMaxWindowLog,
                     options_.fast || kind == Kind::kPacked);
    options.x86 = kind == Kind::kCode;
    options.differences = dictionary != 0;
    const ErrorCode error =
        TarnEncode(data.data(), dictionary, static_cast<u32>(data.size() - dictionary), options,
                   &out->bytes, &out->size);
    return error ? ReportError(spoolName_, "cannot code the files", error) : kExitOk;
  }

  // Appends a member's coded bytes to the spool and adds it to the set.
  int Spool(const std::string& member, const std::string& diskPath, const Coded& coded) {
    const u64 at = spool_->GetPosition();
    if (at + coded.size > kMaxFileSize)
      return ReportFault(spoolName_, "the coded members pass 4 GiB");
    ErrorCode error = spool_->Write(coded.bytes, coded.size, nullptr);
    if (error) return ReportError(spoolName_, "cannot write the coded members", error);
    set_->files.push_back(SourceFile{diskPath, member, coded.size, at});
    return kExitOk;
  }

  void KeepWhole(const SourceFile& source) {
    set_->files.push_back(source);
    ++figures_->whole;
  }

  int PlanFile(const SourceFile& source, const std::string& path) {
    const std::string* old = options_.base ? options_.base->Find(path) : nullptr;
    if (!old) return PlanNew(source, path);
    seen_.insert(path);
    return PlanChanged(source, path, *old);
  }

  int PlanNew(const SourceFile& source, const std::string& path) {
    if (!options_.tarn || source.size == 0) {
      KeepWhole(source);
      return kExitOk;
    }
    if (source.size < kSolidFileLimit) return Consider(source, path);
    return PlanAlone(source, path, nullptr);
  }

  // A file for a solid group, sorted by its kind. Compressed files (images, archives) go too:
  // copies and near-copies of them (the same document packed twice) shrink only in context.
  int Consider(const SourceFile& source, const std::string& path) {
    std::vector<u8> data;
    if (int status = Read(source.diskPath, source.size, &data, 0)) return status;
    const Kind kind = LooksLikeCode(data.data(), source.size) ? Kind::kCode
                      : LooksCompressible(data)               ? Kind::kData
                                                              : Kind::kPacked;
    small_.push_back({source, path, source.size, kind});
    return kExitOk;
  }

  // Coded alone when that is smaller than the file and than `rival` (a delta), else the rival
  // or the whole file.
  int PlanAlone(const SourceFile& source, const std::string& path, Coded* rival) {
    Coded alone;
    if (options_.tarn && source.size <= kMaxAloneBytes) {
      std::vector<u8> data;
      if (int status = Read(source.diskPath, source.size, &data, 0)) return status;
      const Kind kind = LooksLikeCode(data.data(), source.size) ? Kind::kCode : Kind::kData;
      if (int status = Encode(data, 0, kind, false, &alone)) return status;
    }
    const bool aloneWins =
        alone.bytes && alone.size < source.size && (!rival || alone.size < rival->size);
    if (rival && rival->size < source.size && !aloneWins) {
      ++figures_->deltas;
      return Spool(kCodedRoot + path, source.diskPath, *rival);
    }
    if (!aloneWins) {
      KeepWhole(source);
      return kExitOk;
    }
    ++figures_->alone;
    return Spool(kCodedRoot + path, source.diskPath, alone);
  }

  // Whether the installed file (open as old) holds the bytes of the new one, compared in chunks.
  int SameBytes(CFile* old, const std::string& oldPath, const SourceFile& source, bool* same) {
    ErrorCode error = nullptr;
    CFile* file =
        FileServiceTable.Open(source.diskPath.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
    if (!file)
      return ReportError(source.diskPath, "cannot open the file", error ? error : ERR_OPENFAIL);
    std::vector<u8> a(kCopyChunk), b(kCopyChunk);
    *same = true;
    for (u64 left = source.size; left && *same && !error;) {
      const u32 chunk = left < kCopyChunk ? static_cast<u32>(left) : kCopyChunk;
      error = old->Read(a.data(), chunk, nullptr);
      if (error) {
        delete file;
        return ReportError(oldPath, "cannot read the installed file", error);
      }
      error = file->Read(b.data(), chunk, nullptr);
      *same = !error && std::memcmp(a.data(), b.data(), chunk) == 0;
      left -= chunk;
    }
    delete file;
    return error ? ReportError(source.diskPath, "cannot read the file", error) : kExitOk;
  }

  int PlanChanged(const SourceFile& source, const std::string& path, const std::string& oldPath) {
    ErrorCode error = nullptr;
    CFile* file = FileServiceTable.Open(oldPath.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
    if (!file)
      return ReportError(oldPath, "cannot open the installed file", error ? error : ERR_OPENFAIL);
    u64 oldSize = file->GetSize();
    FileSize64(file, &oldSize);
    bool same = false;
    const int compared = oldSize == source.size ? SameBytes(file, oldPath, source, &same) : kExitOk;
    delete file;
    if (compared) return compared;
    if (same) {
      ++figures_->unchanged;
      return kExitOk;
    }
    if (oldSize == 0) return PlanNew(source, path);
    if (oldSize + source.size > kMaxPairBytes || oldSize > kMaxFileSize)
      return PlanAlone(source, path, nullptr);
    std::vector<u8> data;
    if (int status = Read(oldPath, oldSize, &data, 0)) return status;
    if (int status = Read(source.diskPath, source.size, &data, static_cast<size_t>(oldSize)))
      return status;
    Coded delta;
    if (int status = Encode(data, static_cast<u32>(oldSize), Kind::kData, false, &delta))
      return status;
    data = std::vector<u8>();
    if (delta.size <= source.size / kClearDeltaShare) {
      ++figures_->deltas;
      return Spool(kCodedRoot + path, source.diskPath, delta);
    }
    return PlanAlone(source, path, &delta);
  }

  // The end of the group that starts at first: files of its kind within the group limits.
  size_t GroupEnd(size_t first) const {
    u64 bytes = kSolidCountBytes, table = kSolidCountBytes;
    size_t end = first;
    for (; end < small_.size(); ++end) {
      const Small& file = small_[end];
      const u64 entry = kSolidEntryHead + file.path.size();
      if (end > first && (file.kind != small_[first].kind || table + entry > kSolidMaxTable ||
                          bytes + entry + file.source.size > kSolidMaxOutput))
        break;
      bytes += entry + file.source.size;
      table += entry;
    }
    return end;
  }

  // The files for groups by kind, then extension and then name, so that files of one kind sit
  // together where the coder finds their likenesses.
  int PlanSolid() {
    auto extension = [](const std::string& path) {
      const size_t slash = path.rfind('\\'), dot = path.rfind('.');
      return dot == std::string::npos || (slash != std::string::npos && dot < slash)
                 ? std::string()
                 : path.substr(dot + 1);
    };
    std::stable_sort(small_.begin(), small_.end(), [&](const Small& a, const Small& b) {
      if (a.kind != b.kind) return a.kind < b.kind;
      const std::string x = extension(a.path), y = extension(b.path);
      return x != y ? x < y : a.path < b.path;
    });
    for (size_t first = 0; first < small_.size();) {
      const size_t end = GroupEnd(first);
      if (int status = CodeGroup(first, end)) return status;
      for (; first < end; ++first) progress_->Advance(small_[first].uncounted);
    }
    return kExitOk;
  }

  int CodeGroup(size_t first, size_t end) {
    if (end - first == 1) return PlanAlone(small_[first].source, small_[first].path, nullptr);
    if (solidGroups_ == kSolidMaxGroups) {
      for (size_t i = first; i < end; ++i) {
        if (int status = PlanAlone(small_[i].source, small_[i].path, nullptr)) return status;
      }
      return kExitOk;
    }
    std::vector<u8> table, data;
    AppendLittleEndian(&table, static_cast<u32>(end - first), kSolidCountBytes);
    u64 raw = 0;
    for (size_t i = first; i < end; ++i) {
      const size_t at = data.size();
      if (int status = Read(small_[i].source.diskPath, small_[i].source.size, &data, at))
        return status;
      AppendSolidEntry(&table, small_[i].path, small_[i].source.size,
                       Crc32Update(0, data.data() + at, small_[i].source.size));
      raw += small_[i].source.size;
    }
    data.insert(data.begin(), table.begin(), table.end());
    Coded group;
    if (int status = Encode(data, 0, small_[first].kind, true, &group)) return status;
    if (group.size >= raw) {
      for (size_t i = first; i < end; ++i) KeepWhole(small_[i].source);
      return kExitOk;
    }
    ++figures_->solidGroups;
    figures_->solidFiles += end - first;
    return Spool(SolidMemberName(++solidGroups_), spoolName_, group);
  }

  // The patcher removes nothing: files of the installed game that the new tree lacks stay.
  void WarnRemoved() {
    if (!options_.base) return;
    std::string names;
    size_t count = 0;
    for (const auto& file : options_.base->Files()) {
      if (seen_.count(file.first)) continue;
      if (++count <= kMostNamesWarned) names += (names.empty() ? "" : ", ") + file.first;
    }
    if (!count) return;
    if (count > kMostNamesWarned)
      names += ", and " + std::to_string(count - kMostNamesWarned) + " more";
    Warn(set_->outputName, std::to_string(count) + " installed file" +
                               (count == 1 ? " is not in the new tree and stays"
                                           : "s are not in the new tree and stay") +
                               " as installed (the patcher removes nothing): " + names);
  }

  struct Small {
    SourceFile source;
    std::string path;
    u64 uncounted;  // bytes the progress has not yet been told of
    Kind kind;
  };

  SourceSet* set_;
  const CodedBuildOptions& options_;
  CFile* spool_;
  const std::string& spoolName_;
  CodedBuildFigures* figures_;
  Progress* progress_ = nullptr;
  std::vector<Small> small_;
  std::set<std::string> seen_;  // paths of the base that the new tree has
  u32 solidGroups_ = 0;
};

}  // namespace

int PlanCodedMembers(SourceSet* set, const CodedBuildOptions& options, CFile* spool,
                     const std::string& spoolName, CodedBuildFigures* figures) {
  return Planner(set, options, spool, spoolName, figures).Run();
}
