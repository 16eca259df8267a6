#include "pack_build.h"

#include <algorithm>
#include <map>

#include "archive/pack_writer.h"
#include "commands.h"
#include "copy.h"
#include "file/file_service.h"
#include "messages.h"
#include "names.h"
#include "progress.h"
#include "source_check.h"
#include "tree.h"

namespace {

std::string Normalised(const std::string& name) {
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back(0);
  PackNormalizeName(buffer.data());
  return std::string(buffer.data());
}

// The checks of one walk over a source tree, entry by entry; folders come before their contents.
class SourceWalk {
 public:
  SourceWalk(SourceSet* set, const std::string& root, const std::string& memberPrefix)
      : set_(set), trail_(root, IdentityOf(root)), prefix_(memberPrefix) {}

  int Visit(CFileService* disk, const WalkEntry& entry) {
    // Each component is checked as its own entry; a '\' inside a name would split it.
    std::string stored;
    const char* unportable = UnportableComponent(entry.name);
    std::string fault = unportable ? unportable : StoredComponent(set_->names, entry.name, &stored);
    if (!fault.empty()) return ReportFault(entry.full, "cannot be stored: the name " + fault);
    const size_t cut = entry.relative.rfind('\\');
    if (cut != std::string::npos) stored = folders_[entry.relative.substr(0, cut)] + '\\' + stored;
    if (!entry.IsDirectory()) return AddSourceFile(set_, entry.full, prefix_ + stored);

    FileIdentity identity;
    if (int status = CheckSourceEntry(entry.full, true, set_->followLinks, &identity))
      return status;
    if (set_->followLinks) {
      if (int status = trail_.Enter(entry.relative, entry.full, identity)) return status;
    }
    folders_[entry.relative] = stored;
    // An empty folder is found by a listing that ends before its first entry.
    FindRecord record{};
    ErrorCode first = disk->FindFirst(&record, entry.full.c_str());
    if (record.service) disk->FindClose(&record);
    if (first == ERR_NOMOREFILES)
      Warn(entry.full, "empty folder not stored (packs hold files only)");
    return kExitOk;
  }

 private:
  static FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    InspectPath(path, true, &identity);
    return identity;
  }

  SourceSet* set_;
  FolderTrail trail_;
  std::string prefix_;
  std::map<std::string, std::string> folders_;  // stored forms of the folders' relative paths
};

// The pack upper-cases only a to z; a Windows folder also takes É and é for one letter, and the
// patcher would write the second of two such files over the first.
int RefuseWindowsCaseClashes(const SourceSet& set) {
  if (!set.names.codePage) return kExitOk;
  std::map<std::wstring, const SourceFile*> seen;
  for (const SourceFile& file : set.files) {
    auto placed = seen.emplace(WindowsFolderKey(set.names, file.member), &file);
    if (!placed.second) {
      return ReportFault(file.diskPath, "has the same name as " + placed.first->second->diskPath +
                                            " in a Windows folder, which ignores letter case");
    }
  }
  return kExitOk;
}

}  // namespace

int ReadSourceOptions(const char* command, const Args& args, SourceSet* set) {
  set->followLinks = args.Has("follow-links");
  return ChooseNameCoding(command, args, &set->names);
}

int AddSourceFile(SourceSet* set, const std::string& diskPath, const std::string& member) {
  if (int status = CheckSourceEntry(diskPath, false, set->followLinks)) return status;
  ErrorCode error = nullptr;
  CFile* file = FileServiceTable.Open(diskPath.c_str(), OPEN_READ | OPEN_SHARE_READ, &error);
  if (!file) return ReportError(diskPath, "cannot open the file", error ? error : ERR_OPENFAIL);
  u64 size = file->GetSize();
  FileSize64(file, &size);
  FileIdentity identity;
  const bool isOutput = set->output && IdentifyFile(file, &identity) && identity == *set->output;
  delete file;
  if (isOutput) {
    return ReportFault(set->outputName,
                       "refusing to overwrite " + diskPath + ", an input of this run");
  }
  if (size > kMaxFileSize)
    return ReportFault(diskPath, "the file is too large: " + TooLargeText(size));
  set->files.push_back(SourceFile{diskPath, Normalised(member), static_cast<u32>(size)});
  set->totalBytes += size;
  return kExitOk;
}

int AddSourceTree(SourceSet* set, const std::string& diskRoot, const std::string& memberPrefix) {
  CFileService* disk = nullptr;
  const char* rest = "";
  disk = ResolvePath(&rest);
  if (!disk) return ReportFault(diskRoot, "no disk service");

  SourceWalk checks(set, diskRoot, memberPrefix);
  WalkResult walk = WalkTree(disk, diskRoot, kDiskSeparator,
                             [&](const WalkEntry& entry) { return checks.Visit(disk, entry); });
  if (walk.stopped) return walk.stopped;
  if (walk.error) return ReportError(walk.failedDirectory, "cannot list the folder", walk.error);
  return kExitOk;
}

int FinishSourceSet(SourceSet* set) {
  std::vector<SourceFile>& files = set->files;
  std::sort(files.begin(), files.end(), [](const SourceFile& a, const SourceFile& b) {
    return PackCompareNames(a.member.c_str(), b.member.c_str()) < 0;
  });
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].member.size() > kMaxMemberName) {
      return ReportFault(files[i].diskPath, "member name " + files[i].member + " is longer than " +
                                                std::to_string(kMaxMemberName) + " bytes");
    }
    if (i > 0 && files[i].member == files[i - 1].member) {
      return ReportFault(files[i].diskPath, "has the same member name " + files[i].member + " as " +
                                                files[i - 1].diskPath +
                                                " (pack names ignore letter case)");
    }
  }
  if (int status = RefuseWindowsCaseClashes(*set)) return status;
  // Header, directory entries (lengths, name, offset, size) and CRCs: an upper bound.
  u64 packBound = 40 + set->totalBytes;
  for (const SourceFile& file : files) packBound += 2 + file.member.size() + 8 + 4;
  if (packBound > kMaxFileSize) {
    return ReportFault(set->outputName,
                       "the pack would be too large: up to " + TooLargeText(packBound));
  }
  return kExitOk;
}

int WritePackFromSources(const SourceSet& set, CFile* out, const std::string& outName,
                         Progress* progress, const PackSizeHook& sized, CFile* spool) {
  std::vector<const char*> names;
  std::vector<u32> sizes;
  names.reserve(set.files.size());
  sizes.reserve(set.files.size());
  for (const SourceFile& file : set.files) {
    names.push_back(file.member.c_str());
    sizes.push_back(file.size);
  }
  CPackWriter writer(out);
  ErrorCode error = writer.Begin(static_cast<u32>(names.size()), names.data(), sizes.data());
  if (error) return ReportFault(outName, std::string("cannot write the pack: ") + writer.Problem());
  if (sized) {
    if (int status = sized(writer.PackSize())) return status;
  }

  // The writer takes the data in chunks; it is fed through a small adapter file.
  class WriterSink : public CFile {
   public:
    explicit WriterSink(CPackWriter* target) : CFile(nullptr, 0), writer(target) {}
    ErrorCode Write(const void* buffer, u32 size, u32* done) override {
      ErrorCode result = writer->Write(buffer, size);
      if (done) *done = result ? 0 : size;
      return result;
    }
    CPackWriter* writer;
  } sink(&writer);

  for (const SourceFile& source : set.files) {
    if (source.spooled != SourceFile::kNotSpooled) {
      error = spool->Seek(static_cast<i32>(static_cast<u32>(source.spooled)), SEEK_FROM_START);
      CopyResult copy = error ? CopyResult() : CopyBytes(spool, &sink, source.size, progress);
      if (error || copy.error) {
        if (progress) progress->Clear();
        return ReportError(outName, "cannot copy member " + source.member,
                           error ? error : copy.error);
      }
      continue;
    }
    ErrorCode openError = nullptr;
    CFile* file =
        FileServiceTable.Open(source.diskPath.c_str(), OPEN_READ | OPEN_SHARE_READ, &openError);
    if (!file) {
      return ReportError(source.diskPath, "cannot open the file",
                         openError ? openError : ERR_OPENFAIL);
    }
    CopyResult copy = CopyBytes(file, &sink, source.size, progress);
    const bool changed = !copy.error && file->GetSize() != source.size;
    delete file;
    if (progress && (copy.error || changed)) progress->Clear();
    if (copy.sourceShort || changed) {
      return ReportFault(source.diskPath, "the file changed size while the pack was being written");
    }
    if (copy.error && copy.readFailed)
      return ReportError(source.diskPath, "cannot read the file", copy.error);
    if (copy.error) return ReportError(outName, "cannot write member " + source.member, copy.error);
  }
  error = writer.Finish();
  if (error)
    return ReportFault(outName, std::string("cannot finish the pack: ") + writer.Problem());
  return kExitOk;
}
