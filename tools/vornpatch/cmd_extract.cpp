// vornpatch extract TARGET -C DIR
#include <cstdio>

#include "commands.h"
#include "copy.h"
#include "messages.h"
#include "name_coding.h"
#include "names.h"
#include "progress.h"
#include "tree.h"

namespace {

const OptionSpec kOptions[] = {
    {"directory", 'C', true}, {"codepage", 0, true}, {nullptr, 0, false}};

std::string DiskPathOf(const std::string& root, const std::string& relative) {
  std::string native = relative;
  for (char& c : native) {
    if (c == '\\') c = kDiskSeparator;
  }
  return JoinPath(root, native, kDiskSeparator);
}

// Creates the last component of `path` when it is missing.
ErrorCode MakeFolder(const std::string& path) {
  std::string parent, name = path;
  size_t cut = path.find_last_of("\\/");
  if (cut != std::string::npos) {
    parent = path.substr(0, cut + 1);
    name = path.substr(cut + 1);
  }
  if (name.empty()) return nullptr;  // a root or a trailing separator: nothing to make
  ErrorCode error = FileServiceTable.CreateDir(parent.c_str(), name.c_str());
  return error == ERR_ALREADYEXISTS || error == ERR_FILEEXIST ? nullptr : error;
}

int ExtractFile(CFileService* service, const WalkEntry& entry, const std::string& targetPath,
                const std::string& diskPath, Progress* progress) {
  ErrorCode error = nullptr;
  CFile* member = service->Open(entry.full.c_str(), OPEN_READ, &error);
  if (!member) {
    progress->Clear();
    return ReportError(targetPath, "cannot open member " + entry.full,
                       error ? error : ERR_OPENFAIL);
  }
  CFile* out = FileServiceTable.Open(diskPath.c_str(),
                                     OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE, &error);
  if (!out) {
    delete member;
    progress->Clear();
    return ReportError(diskPath, "cannot create the file", error ? error : ERR_OPENFAIL);
  }
  CopyResult copy = CopyBytes(member, out, member->GetSize(), progress);
  delete member;
  delete out;
  if (!copy.error) return kExitOk;
  progress->Clear();
  if (copy.readFailed)
    return ReportError(targetPath, "cannot read member " + entry.full, copy.error);
  return ReportError(diskPath, "cannot write the file", copy.error);
}

int RunExtract(const Args& args) {
  const std::string& path = args.positional[0];
  const char* directory = args.Value("directory");
  if (!directory || !*directory)
    return UsageError("extract", "the destination (-C DIR) is missing");
  const std::string root = directory;
  NameCoding names;
  if (int status = ChooseNameCoding("extract", args, &names)) return status;

  CFile* file = nullptr;
  Target* target = nullptr;
  if (int status = OpenTarget(path.c_str(), &file, &target)) return status;
  CFileService* service = target->Service();
  if (!service) {
    int status = ReportFault(path, target->WhyNoTree());
    delete target;
    delete file;
    return status;
  }

  // Every name is checked before anything is written: a target with one name that would land
  // outside the destination is refused whole.
  u64 total = 0;
  WalkResult walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
    if (const char* fault = CheckMemberPath(entry.relative, UnsafeComponent)) {
      return ReportFault(path, "refusing to extract '" + entry.relative + "': the name " + fault);
    }
    std::string host;
    const std::string fault = HostName(names, entry.relative, &host);
    if (!fault.empty())
      return ReportFault(path, "refusing to extract '" + entry.relative + "': the name " + fault);
    if (entry.IsDirectory()) return kExitOk;
    CFile* member = service->Open(entry.full.c_str(), OPEN_READ, nullptr);
    if (member) total += member->GetSize();
    delete member;
    return kExitOk;
  });
  int status = walk.stopped;
  if (!status && walk.error) {
    status = ReportError(path, "cannot list folder '" + walk.failedDirectory + "'", walk.error);
  }
  if (!status) {
    ErrorCode error = MakeFolder(root);
    if (error) status = ReportError(root, "cannot create the folder", error);
  }
  if (!status) {
    Progress progress("extracting", total);
    walk = WalkTree(service, std::string(), '\\', [&](const WalkEntry& entry) -> int {
      std::string host;
      HostName(names, entry.relative, &host);  // checked above
      const std::string diskPath = DiskPathOf(root, host);
      if (!entry.IsDirectory()) return ExtractFile(service, entry, path, diskPath, &progress);
      ErrorCode error = MakeFolder(diskPath);
      if (!error) return kExitOk;
      progress.Clear();
      return ReportError(diskPath, "cannot create the folder", error);
    });
    status = walk.stopped;
    if (!status && walk.error) {
      progress.Clear();
      status = ReportError(path, "cannot list folder '" + walk.failedDirectory + "'", walk.error);
    }
  }
  delete target;
  delete file;
  return status;
}

}  // namespace

VORNPATCH_COMMAND(extract, "recreate the files inside a target in a folder",
                  "Usage: vornpatch extract TARGET -C DIR [--codepage N]\n"
                  "\n"
                  "Recreates the tree inside TARGET (a patch executable, an LZSS container\n"
                  "holding a pack, a pack, or another kind named by 'vornpatch --help') below\n"
                  "DIR, which is created when missing. Names are written as stored (packs store\n"
                  "them upper-cased). Nothing is written outside DIR: a target holding a name\n"
                  "with a '.' or '..' component, an empty component, a drive colon, a leading\n"
                  "separator or a control character is refused before any file is written.\n"
                  "Existing files of the same names are overwritten.\n"
                  "\n"
                  "Options:\n" CODEPAGE_HELP
                  "  -C, --directory DIR   the folder to extract into (required)\n",
                  kOptions, 1, 1, RunExtract);
